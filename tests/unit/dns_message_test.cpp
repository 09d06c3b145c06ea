// The DNS engine without a network: query bytes, name decoding, record data
// and texts. Whole replies, malformed ones included, come from a scripted
// server in tests/peers/dns_exchange_test.cpp.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dns/DnsMessage.h"
#include "support/DnsReplyBuilder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Decode(const Bytes& m, std::uint16_t offset, std::uint16_t outSize = 256, int* length = nullptr)
{
    std::vector<char> out(outSize + 1u, 'X');
    const int n = DecodeDnsName(m.data(), m.size(), offset, out.data(), outSize);
    if (length)
        *length = n;
    return std::string(out.data(), strnlen(out.data(), outSize));
}

std::string Text(const DnsRecord& r)
{
    char out[1000];
    FormatDnsRecord(r, out, sizeof out);
    return out;
}

// Parses answer records that follow a question for "example.test" type A.
std::vector<DnsRecord> ParseAnswers(DnsReplyBuilder& answers, std::uint16_t count)
{
    DnsReplyBuilder b;
    b.Header(1234, 0x8180, 1, count, 0, 0).Question("example.test", 1);
    b.bytes.insert(b.bytes.end(), answers.bytes.begin(), answers.bytes.end());
    std::vector<DnsRecord> records(50);
    std::memset(records.data(), 0xEE, records.size() * sizeof(DnsRecord));  // marks what is never stored
    DnsRequest request{};
    request.count = 50;
    request.records = records.data();
    EXPECT_EQ(ParseDnsReply(b.bytes.data(), b.Size(), 18, request), 0);
    EXPECT_EQ(request.count, count);
    return records;
}

constexpr std::uint16_t kUnstored = 0xEEEE;

}  // namespace

TEST(BuildDnsQuery, TheTwoLabelMxQueryAndItsSpellings)
{
    const Bytes expected = {0x04, 0xD2, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 7,    'e', 'x',
                            'a',  'm',  'p',  'l',  'e',  3,    'c',  'o',  'm',  0,    0x00, 0x0F, 0x00, 0x01};
    for (const char* name : {"example.com", "example.com.", "example..com", ".example.com"})
        EXPECT_EQ(BuildDnsQuery(1234, 15, name, true), expected) << name;
    EXPECT_EQ(BuildDnsQuery(1234, 15, "example.com", false)[2], 0x00);  // no RD
}

TEST(BuildDnsQuery, RefusesLongNamesAndOtherTypes)
{
    const std::string label(63, 'a');
    const std::string name = label + "." + label + "." + label + "." + label;  // 255 characters
    EXPECT_EQ(BuildDnsQuery(1, 1, name.c_str(), true).size(), 255u + 18);
    EXPECT_TRUE(BuildDnsQuery(1, 1, (name + "b").c_str(), true).empty());
    EXPECT_TRUE(BuildDnsQuery(1, 1, nullptr, true).empty());
    for (std::uint16_t type : {1, 2, 5, 6, 12, 13, 15})
        EXPECT_FALSE(BuildDnsQuery(1, type, "a.b", true).empty()) << type;
    for (std::uint16_t type : {0, 16, 28, 255})
        EXPECT_TRUE(BuildDnsQuery(1, type, "a.b", true).empty()) << type;
    // A label of more than 63 characters goes out with its length as it is.
    EXPECT_EQ(BuildDnsQuery(1, 1, std::string(70, 'x').c_str(), true)[12], 70);
}

TEST(DecodeDnsName, LabelsPointersAndCutting)
{
    DnsReplyBuilder b;
    b.Name("test");                  // 0
    b.Labels("example").Pointer(0);  // 6
    b.Labels("mail").Pointer(6);     // 16: mail -> example -> test
    b.U8(0);                         // 23: the root
    EXPECT_EQ(Decode(b.bytes, 16), "mail.example.test");
    EXPECT_EQ(Decode(b.bytes, 23), "");
    int length = 0;
    EXPECT_EQ(Decode(b.bytes, 16, 5, &length), "mail");  // cut to outSize - 1 ...
    EXPECT_EQ(length, 17);                                // ... the full length returned
    EXPECT_EQ(DecodeDnsName(b.bytes.data(), b.Size(), 16, nullptr, 0), 17);
    EXPECT_EQ(DecodeDnsName(nullptr, 0, 0, nullptr, 0), -1);

    // Any byte from 64 up is a pointer: 0x41 0x05 leads to 0x105 = 261.
    Bytes m(270, 0);
    m[0] = 3, m[1] = 'w', m[2] = 'w', m[3] = 'w', m[4] = 0x41, m[5] = 0x05;
    m[261] = 2, m[262] = 'n', m[263] = 'l';
    EXPECT_EQ(Decode(m, 0), "www.nl");
}

TEST(DecodeDnsName, HostileNamesEndInsideTheMessage)
{
    DnsReplyBuilder loop;
    loop.Labels("a").Pointer(0);
    int length = 0;
    EXPECT_EQ(Decode(loop.bytes, 0, 256, &length).substr(0, 4), "a.a.");
    EXPECT_EQ(length, 2 * (kDnsMaxPointerHops + 1) - 1);  // one "a" per allowed hop

    DnsReplyBuilder ends;
    ends.Labels("ok").U8(9).Raw("abc");  // a label longer than what is left
    EXPECT_EQ(Decode(ends.bytes, 0), "ok");
    EXPECT_EQ(Decode(ends.bytes, 500), "");  // an offset beyond the message
    DnsReplyBuilder outside;
    outside.Labels("ok").Pointer(0x3FFF);
    EXPECT_EQ(Decode(outside.bytes, 0), "ok");
    DnsReplyBuilder halfPointer;
    halfPointer.Labels("ok").U8(0xC0);
    EXPECT_EQ(Decode(halfPointer.bytes, 0), "ok");

    // Labels alone longer than the text area are cut at 255 characters.
    DnsReplyBuilder huge;
    for (char c = 'a'; c < 'g'; ++c)
        huge.Labels(std::string(60, c));
    huge.U8(0);
    EXPECT_EQ(Decode(huge.bytes, 0, 256, &length).size(), 255u);
    EXPECT_EQ(length, 255);
}

TEST(ParseDnsReply, RecordDataAndItsText)
{
    DnsReplyBuilder b;
    b.Pointer(12).Fixed(13, 300, 10).U8(3).Raw("X86").U8(5).Raw("LINUX");
    b.Pointer(12).Fixed(6, 300, 6 + 13 + 20).Labels("ns1").Pointer(12).Labels("hostmaster").Pointer(12)
        .U32(4294967295u).U32(3600).U32(600).U32(86400).U32(300);
    b.Pointer(12).Fixed(16, 77, 4).U8(3).Raw("abc");
    b.ARecord(0x7F00000A);
    const auto r = ParseAnswers(b, 4);
    EXPECT_STREQ(r[0].name, "X86");
    EXPECT_STREQ(r[0].name2, "LINUX");
    EXPECT_EQ(Text(r[0]), "HINFO: cpu: X86, os: LINUX\r\n");
    EXPECT_EQ(r[1].addressOrSerial, 4294967295u);
    EXPECT_EQ(Text(r[1]), "SOA:\tmname: ns1.example.test,\r\n\tpname: hostmaster.example.test,\r\n\tserial: -1,\r\n"
                          "\trefresh: 3600,\r\n\tretry: 600,\r\n\texpire: 86400,\r\n\tminimum: 300\r\n");
    EXPECT_EQ(r[2].type, 16);
    EXPECT_EQ(r[2].ttl, 77u);
    EXPECT_EQ(Text(r[2]), "Unknowns Record Type\r\n");
    EXPECT_EQ(r[3].addressOrSerial, htonl(0x7F00000A));  // the four bytes as they stand
}

TEST(ParseDnsReply, DataTooShortForItsTypeEndsTheParse)
{
    for (auto [type, length] : {std::pair<int, int>{1, 2}, {15, 1}, {6, 4}, {13, 3}, {2, 0}}) {
        DnsReplyBuilder b;
        b.ARecord(1).Pointer(12).Fixed(std::uint16_t(type), 1, std::uint16_t(length));
        b.bytes.resize(b.Size() + size_t(length), 1);
        b.ARecord(3);
        const auto r = ParseAnswers(b, 3);
        EXPECT_EQ(r[0].addressOrSerial, htonl(1)) << type;
        EXPECT_EQ(r[1].type, kUnstored) << type;
        EXPECT_EQ(r[2].type, kUnstored) << type;
    }
}

TEST(FormatDnsRecord, NumbersAndLimits)
{
    DnsRecord r{};
    r.type = 15;
    r.preference = 65535;
    std::strcpy(r.name, "mx.example.test");
    EXPECT_EQ(Text(r), "MX: Preference: 65535, Exchange: mx.example.test\r\n");

    // The longest text, an SOA with two names of 255 characters, fits in 1000;
    // a smaller area gets what fits, terminated.
    r = DnsRecord{};
    r.type = 6;
    std::memset(r.name, 'm', 255);
    std::memset(r.name2, 'r', 255);
    r.addressOrSerial = r.refresh = r.retry = r.expire = r.minimum = 0x80000000u;
    char out[1000];
    const int n = FormatDnsRecord(r, out, sizeof out);
    EXPECT_EQ(std::strlen(out), size_t(n));
    char small[8];
    EXPECT_EQ(FormatDnsRecord(r, small, sizeof small), n);
    EXPECT_STREQ(small, "SOA:\tmn");
}
