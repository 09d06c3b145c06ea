// The DNS engine without a network: query bytes, name decoding, record data
// and texts, hostile ones included.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "dns/DnsMessage.h"
#include "support/DnsReplyBuilder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Text(const DnsRecord& r)
{
    char out[1000];
    FormatDnsRecord(r, out, sizeof out);
    return out;
}

// Parses answer records that follow a question for "example.test" type A.
std::vector<DnsRecord> ParseAnswers(const DnsReplyBuilder& answers, std::uint16_t count, std::int32_t* stored = nullptr)
{
    DnsReplyBuilder b;
    b.Header(1234, 0x8180, 1, count, 0, 0).Question("example.test", 1);
    b.bytes.insert(b.bytes.end(), answers.bytes.begin(), answers.bytes.end());
    std::vector<DnsRecord> records(50);
    std::memset(records.data(), 0xEE, records.size() * sizeof(DnsRecord));  // marks what is never stored
    DnsRequest request{};
    request.count = 50;
    request.records = records.data();
    EXPECT_TRUE(ParseDnsReply(b.bytes.data(), b.Size(), 18, request));
    EXPECT_EQ(request.count, count);
    EXPECT_FALSE(request.truncated);
    if (stored)
        *stored = request.stored;
    return records;
}

}  // namespace

TEST(BuildDnsQuery, BytesAndRefusals)
{
    const Bytes expected = {0x04, 0xD2, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 7,    'e', 'x',
                            'a',  'm',  'p',  'l',  'e',  3,    'c',  'o',  'm',  0,    0x00, 0x0F, 0x00, 0x01};
    for (const char* name : {"example.com", "example.com.", "example..com", ".example.com"})
        EXPECT_EQ(BuildDnsQuery(1234, 15, name, true), expected) << name;
    EXPECT_EQ(BuildDnsQuery(1234, 15, "example.com", false)[2], 0x00);  // no RD

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

TEST(DecodeDnsName, EveryReadStaysInsideTheMessage)
{
    DnsReplyBuilder chain;
    chain.Name("test").Labels("example").Pointer(0).Labels("mail").Pointer(6).U8(0);  // mail at 16, root at 23
    Bytes pointer41(270, 0);  // any byte from 64 up is a pointer: 0x41 0x05 leads to 0x105 = 261
    std::memcpy(pointer41.data(), "\3www\x41\x05", 6);
    std::memcpy(&pointer41[261], "\2nl", 3);
    std::string loop = "a", huge;  // one "a" per allowed hop
    for (int i = 0; i < kDnsMaxPointerHops; ++i)
        loop += ".a";
    DnsReplyBuilder hugeName;
    for (char c = 'a'; c < 'g'; ++c) {
        hugeName.Labels(std::string(60, c));
        huge += std::string(60, c) + ".";
    }
    const struct {
        Bytes message;
        std::uint16_t offset, outSize;
        std::string text;
        int length;
    } cases[] = {
        {chain.bytes, 16, 256, "mail.example.test", 17},
        {chain.bytes, 23, 256, "", 0},
        {chain.bytes, 16, 5, "mail", 17},  // cut to outSize - 1, the full length returned
        {pointer41, 0, 256, "www.nl", 6},
        {DnsReplyBuilder().Labels("a").Pointer(0).bytes, 0, 256, loop, int(loop.size())},
        {DnsReplyBuilder().Labels("ok").U8(9).Raw("abc").bytes, 0, 256, "ok", 2},  // a label past the end
        {DnsReplyBuilder().Labels("ok").Pointer(0x3FFF).bytes, 0, 256, "ok", 2},
        {DnsReplyBuilder().Labels("ok").U8(0xC0).bytes, 0, 256, "ok", 2},
        {DnsReplyBuilder().Labels("ok").bytes, 500, 256, "", 0},  // an offset beyond the message
        {hugeName.U8(0).bytes, 0, 256, huge.substr(0, 255), 255},  // labels alone are cut at 255 characters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::vector<char> out(c.outSize + 1u, 'X');
        EXPECT_EQ(DecodeDnsName(c.message.data(), c.message.size(), c.offset, out.data(), c.outSize), c.length);
        EXPECT_EQ(std::string(out.data(), strnlen(out.data(), c.outSize)), c.text);
        EXPECT_EQ(DecodeDnsName(c.message.data(), c.message.size(), c.offset, nullptr, 0), c.length);
    }
    EXPECT_EQ(DecodeDnsName(nullptr, 0, 0, nullptr, 0), -1);
}

TEST(ParseDnsReply, RecordDataAndItsText)
{
    DnsReplyBuilder b;
    b.Pointer(12).Fixed(13, 300, 10).U8(3).Raw("X86").U8(5).Raw("LINUX");
    b.Pointer(12).Fixed(6, 300, 6 + 13 + 20).Labels("ns1").Pointer(12).Labels("hostmaster").Pointer(12)
        .U32(4294967295u).U32(3600).U32(600).U32(86400).U32(300);
    b.Pointer(12).Fixed(15, 300, 2 + 5).U16(65535).Labels("mx").Pointer(12);
    b.Pointer(12).Fixed(16, 77, 4).U8(3).Raw("abc");
    const auto r = ParseAnswers(b, 4);
    EXPECT_EQ(Text(r[0]), "HINFO: cpu: X86, os: LINUX\r\n");
    EXPECT_EQ(Text(r[1]), "SOA:\tmname: ns1.example.test,\r\n\tpname: hostmaster.example.test,\r\n\tserial: -1,\r\n"
                          "\trefresh: 3600,\r\n\tretry: 600,\r\n\texpire: 86400,\r\n\tminimum: 300\r\n");
    EXPECT_EQ(Text(r[2]), "MX: Preference: 65535, Exchange: mx.example.test\r\n");
    EXPECT_EQ(r[3].ttl, 77u);
    EXPECT_EQ(Text(r[3]), "Unknowns Record Type\r\n");
}

TEST(ParseDnsReply, DataTooShortForItsTypeEndsTheParse)
{
    for (auto [type, length] : {std::pair<int, int>{1, 2}, {15, 1}, {6, 4}, {13, 3}, {2, 0}}) {
        DnsReplyBuilder b;
        b.ARecord(1).Pointer(12).Fixed(std::uint16_t(type), 1, std::uint16_t(length));
        b.bytes.resize(b.Size() + size_t(length), 1);
        std::int32_t stored = -1;
        const auto r = ParseAnswers(b.ARecord(3), 3, &stored);
        EXPECT_EQ(stored, 1) << type;  // what the page prints; the rest was announced only
        EXPECT_EQ(r[0].addressOrSerial, htonl(1)) << type;
        EXPECT_EQ(r[1].type, 0xEEEE) << type;  // never stored
        EXPECT_EQ(r[2].type, 0xEEEE) << type;
    }
}

TEST(DnsResponseCodeLine, NamesEveryErrorButNoSuchName)
{
    for (auto [code, line] : {std::pair<int, const char*>{0, ""}, {3, ""},
                              {2, "Server Returned Error Code 2 (SERVFAIL)!\r\n\r\n"},
                              {5, "Server Returned Error Code 5 (REFUSED)!\r\n\r\n"},
                              {10, "Server Returned Error Code 10 (NOTZONE)!\r\n\r\n"},
                              {15, "Server Returned Error Code 15!\r\n\r\n"}})
        EXPECT_EQ(DnsResponseCodeLine(std::uint8_t(code)), line) << code;
}

TEST(FormatDnsRecord, TheLongestTextFitsAndASmallAreaGetsWhatFits)
{
    DnsRecord r{};
    r.type = 6;
    std::memset(r.name, 'm', 255);
    std::memset(r.name2, 'r', 255);
    r.addressOrSerial = r.refresh = r.retry = r.expire = r.minimum = 0x80000000u;
    char out[1000], small[8];
    const int n = FormatDnsRecord(r, out, sizeof out);
    EXPECT_EQ(std::strlen(out), size_t(n));
    EXPECT_EQ(FormatDnsRecord(r, small, sizeof small), n);
    EXPECT_STREQ(small, "SOA:\tmn");
}
