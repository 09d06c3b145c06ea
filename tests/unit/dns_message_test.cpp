// The DNS engine without a network: query bytes, name decoding, reply parsing
// and record texts.
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
    std::vector<char> out(outSize + 1, 'X');
    int n = DecodeDnsName(m.data(), m.size(), offset, out.data(), outSize);
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

// The question of a reply to "example.test" (12 bytes of text, 14 encoded) plus QTYPE and QCLASS.
constexpr size_t kQuestionLength = 14 + 4;

DnsReplyBuilder ReplyHeader(std::uint16_t an, std::uint16_t ns = 0, std::uint16_t ar = 0,
                            std::uint16_t flags = 0x8180, std::uint16_t id = 1234)
{
    DnsReplyBuilder b;
    b.Header(id, flags, 1, an, ns, ar).Question("example.test", 1);
    return b;
}

struct Parsed {
    int result;
    DnsRequest request;
    std::vector<DnsRecord> records;
};

Parsed Parse(const Bytes& reply, int capacity = 50)
{
    Parsed p{0, {}, std::vector<DnsRecord>(size_t(capacity))};
    std::memset(p.records.data(), 0xEE, p.records.size() * sizeof(DnsRecord));  // shows what was never stored
    p.request.count = capacity;
    p.request.records = p.records.data();
    p.result = ParseDnsReply(reply.data(), reply.size(), kQuestionLength, p.request);
    return p;
}

bool Untouched(const DnsRecord& r)
{
    return r.type == 0xEEEE;
}

}  // namespace

TEST(BuildDnsQuery, TwoLabelMxQueryIs29Bytes)
{
    const Bytes expected = {0x04, 0xD2, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            7,    'e',  'x',  'a',  'm',  'p',  'l',  'e',  3,    'c',  'o',  'm',
                            0,    0x00, 0x0F, 0x00, 0x01};
    EXPECT_EQ(BuildDnsQuery(1234, 15, "example.com", true), expected);
    // Empty labels are left out wherever they stand.
    EXPECT_EQ(BuildDnsQuery(1234, 15, "example.com.", true), expected);
    EXPECT_EQ(BuildDnsQuery(1234, 15, "example..com", true), expected);
    EXPECT_EQ(BuildDnsQuery(1234, 15, ".example.com", true), expected);
    Bytes noRecursion = expected;
    noRecursion[2] = 0x00;
    EXPECT_EQ(BuildDnsQuery(1234, 15, "example.com", false), noRecursion);
}

TEST(BuildDnsQuery, NameLengthLimits)
{
    const std::string label(63, 'a');
    const std::string name = label + "." + label + "." + label + "." + label;  // 255 characters
    const Bytes query = BuildDnsQuery(1, 1, name.c_str(), true);
    EXPECT_EQ(query.size(), name.size() + 18);
    EXPECT_TRUE(BuildDnsQuery(1, 1, (name + "c").c_str(), true).empty());
    EXPECT_TRUE(BuildDnsQuery(1, 1, nullptr, true).empty());

    // A label of more than 63 characters goes out with its length as it is.
    const Bytes longLabel = BuildDnsQuery(1, 1, std::string(70, 'x').c_str(), true);
    ASSERT_EQ(longLabel.size(), 88u);
    EXPECT_EQ(longLabel[12], 70);
}

TEST(BuildDnsQuery, OnlyTheSevenTypes)
{
    for (std::uint16_t type : {1, 2, 5, 6, 12, 13, 15})
        EXPECT_FALSE(BuildDnsQuery(1, type, "a.b", true).empty()) << type;
    for (std::uint16_t type : {0, 3, 16, 28, 255})
        EXPECT_TRUE(BuildDnsQuery(1, type, "a.b", true).empty()) << type;
}

TEST(DecodeDnsName, LabelsAndChainedPointers)
{
    DnsReplyBuilder b;
    b.Name("test");                       // 0: test
    b.Labels("example").Pointer(0);       // 6: example.test
    b.Labels("mail").Pointer(6);          // 16: mail -> example -> test
    b.U8(0);                              // 23: the root
    EXPECT_EQ(Decode(b.bytes, 16), "mail.example.test");
    EXPECT_EQ(Decode(b.bytes, 23), "");
    int length = 0;
    EXPECT_EQ(Decode(b.bytes, 16, 5, &length), "mail");  // cut to outSize - 1
    EXPECT_EQ(length, 17);                                // the full length
    EXPECT_EQ(DecodeDnsName(b.bytes.data(), b.Size(), 16, nullptr, 0), 17);
    EXPECT_EQ(DecodeDnsName(nullptr, 0, 0, nullptr, 0), -1);
}

TEST(DecodeDnsName, AnyByteFrom64IsAPointer)
{
    // 0x41 0x05 points at (0x4105 & 0x3FFF) = 0x105 = 261.
    Bytes m(270, 0);
    m[0] = 3, m[1] = 'w', m[2] = 'w', m[3] = 'w', m[4] = 0x41, m[5] = 0x05;
    m[261] = 2, m[262] = 'n', m[263] = 'l', m[264] = 0;
    EXPECT_EQ(Decode(m, 0), "www.nl");
}

TEST(DecodeDnsName, HostileNamesEndInsideTheMessage)
{
    DnsReplyBuilder loop;
    loop.Labels("a").Pointer(0);  // a pointer back to its own name
    EXPECT_EQ(Decode(loop.bytes, 0).substr(0, 2), "a.");
    int length = 0;
    Decode(loop.bytes, 0, 256, &length);
    EXPECT_EQ(length, 2 * (kDnsMaxPointerHops + 1) - 1);  // "a" once per hop allowed

    DnsReplyBuilder selfPointer;
    selfPointer.Pointer(0);
    EXPECT_EQ(Decode(selfPointer.bytes, 0), "");

    DnsReplyBuilder pastEnd;
    pastEnd.Labels("ok").U8(9).Raw("abc");  // a label longer than what is left
    EXPECT_EQ(Decode(pastEnd.bytes, 0), "ok");
    DnsReplyBuilder outside;
    outside.Labels("ok").Pointer(0x3FFF);
    EXPECT_EQ(Decode(outside.bytes, 0), "ok");
    DnsReplyBuilder halfPointer;
    halfPointer.Labels("ok").U8(0xC0);
    EXPECT_EQ(Decode(halfPointer.bytes, 0), "ok");
    EXPECT_EQ(Decode(pastEnd.bytes, 500), "");  // an offset beyond the message

    // Labels alone longer than the text area are cut at 255 characters.
    DnsReplyBuilder huge;
    for (int i = 0; i < 6; ++i)
        huge.Labels(std::string(60, char('a' + i)));
    huge.U8(0);
    Decode(huge.bytes, 0, 256, &length);
    EXPECT_EQ(length, 255);
    EXPECT_EQ(Decode(huge.bytes, 0).size(), 255u);
}

TEST(ParseDnsReply, EveryTypeIntoItsFields)
{
    DnsReplyBuilder b = ReplyHeader(7, 1, 1);
    b.ARecord(0x7F00000A, 3600);                                      // A 127.0.0.10
    const std::uint16_t nsAt = std::uint16_t(b.Size() + 12);
    b.Pointer(12).Fixed(2, 300, 6).Labels("ns1").Pointer(12);         // NS ns1.example.test
    b.Pointer(12).Fixed(5, 300, 2).Pointer(nsAt);                     // CNAME to the NS name
    b.Pointer(12).Fixed(12, 300, 7).Labels("host").Pointer(12);       // PTR
    b.Pointer(12).Fixed(13, 300, 10).U8(3).Raw("X86").U8(5).Raw("LINUX");
    b.Pointer(12).Fixed(15, 300, 9).U16(10).Labels("mail").Pointer(12);
    b.Pointer(12).Fixed(16, 77, 4).U8(3).Raw("abc");                  // TXT: kept, not decoded
    b.Pointer(12).Fixed(6, 300, 2 + 13 + 20).Pointer(nsAt).Labels("hostmaster").Pointer(12)
        .U32(4294967295u).U32(3600).U32(600).U32(86400).U32(300);
    b.Pointer(nsAt).Fixed(1, 300, 4).U32(0x7F000002);

    Parsed p = Parse(b.bytes);
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.request.count, 9);
    EXPECT_EQ(p.request.responseCode, 0);
    const auto& r = p.records;
    EXPECT_EQ(r[0].type, 1);
    EXPECT_EQ(r[0].ttl, 3600u);
    EXPECT_EQ(r[0].addressOrSerial, htonl(0x7F00000A));  // the bytes as they stand
    EXPECT_STREQ(r[1].name, "ns1.example.test");
    EXPECT_STREQ(r[2].name, "ns1.example.test");
    EXPECT_STREQ(r[3].name, "host.example.test");
    EXPECT_STREQ(r[4].name, "X86");
    EXPECT_STREQ(r[4].name2, "LINUX");
    EXPECT_EQ(r[5].preference, 10);
    EXPECT_STREQ(r[5].name, "mail.example.test");
    EXPECT_EQ(r[6].type, 16);
    EXPECT_EQ(r[6].ttl, 77u);
    EXPECT_STREQ(r[6].name, "");
    EXPECT_EQ(r[7].section, DnsAuthoritySection);
    EXPECT_STREQ(r[7].name, "ns1.example.test");
    EXPECT_STREQ(r[7].name2, "hostmaster.example.test");
    EXPECT_EQ(r[7].addressOrSerial, 4294967295u);
    EXPECT_EQ(r[7].minimum, 300u);
    EXPECT_EQ(r[8].section, DnsAdditionalSection);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(r[size_t(i)].section, DnsAnswerSection);
    EXPECT_TRUE(Untouched(r[9]));

    EXPECT_EQ(Text(r[0]), "A: address: 127.0.0.10\r\n");
    EXPECT_EQ(Text(r[1]), "NS: nsname: ns1.example.test\r\n");
    EXPECT_EQ(Text(r[2]), "CNAME: cname: ns1.example.test\r\n");
    EXPECT_EQ(Text(r[3]), "PTR: ptrname: host.example.test\r\n");
    EXPECT_EQ(Text(r[4]), "HINFO: cpu: X86, os: LINUX\r\n");
    EXPECT_EQ(Text(r[5]), "MX: Preference: 10, Exchange: mail.example.test\r\n");
    EXPECT_EQ(Text(r[6]), "Unknowns Record Type\r\n");
    EXPECT_EQ(Text(r[7]),
              "SOA:\tmname: ns1.example.test,\r\n\tpname: hostmaster.example.test,\r\n\tserial: -1,\r\n"
              "\trefresh: 3600,\r\n\tretry: 600,\r\n\texpire: 86400,\r\n\tminimum: 300\r\n");
}

TEST(ParseDnsReply, CountsCapacityAndHeader)
{
    EXPECT_EQ(Parse(ReplyHeader(0).bytes).result, 0);
    EXPECT_EQ(Parse(ReplyHeader(0).bytes).request.count, 0);

    DnsReplyBuilder many = ReplyHeader(40, 10, 10);
    for (int i = 0; i < 60; ++i)
        many.ARecord(std::uint32_t(i));
    Parsed p = Parse(many.bytes);
    EXPECT_EQ(p.request.count, 60);
    EXPECT_EQ(p.records[49].addressOrSerial, htonl(49));
    EXPECT_EQ(p.records[39].section, DnsAnswerSection);
    EXPECT_EQ(p.records[40].section, DnsAuthoritySection);

    // No record area: only the counts.
    DnsRequest bare{};
    bare.count = 50;
    EXPECT_EQ(ParseDnsReply(many.bytes.data(), many.Size(), kQuestionLength, bare), 0);
    EXPECT_EQ(bare.count, 60);

    // Any identifier is taken; RCODE is the low four bits of the flags.
    Parsed other = Parse(ReplyHeader(0, 0, 0, 0x8183, 4321).bytes);
    EXPECT_EQ(other.result, 0);
    EXPECT_EQ(other.request.responseCode, 3);

    // Too short for a header: no reply at all.
    const Bytes shortReply = {0x04, 0xD2, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0};
    Parsed none = Parse(shortReply);
    EXPECT_EQ(none.result, -6);
    EXPECT_EQ(none.request.count, 0);

    // Without a question the records start right after the header.
    DnsReplyBuilder noQuestion;
    noQuestion.Header(1, 0x8180, 0, 1, 0, 0).U8(0).Fixed(1, 1, 4).U32(0x01020304);
    Parsed q = Parse(noQuestion.bytes);
    EXPECT_EQ(q.records[0].addressOrSerial, htonl(0x01020304));
}

TEST(ParseDnsReply, ARecordThatRunsPastTheEndStopsTheParse)
{
    // Counts that promise more than the reply holds.
    DnsReplyBuilder lying = ReplyHeader(5);
    lying.ARecord(1).ARecord(2);
    Parsed p = Parse(lying.bytes);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.request.count, 5);
    EXPECT_EQ(p.records[1].addressOrSerial, htonl(2));
    EXPECT_TRUE(Untouched(p.records[2]));

    // RDLENGTH beyond the end, and a record cut inside its fixed part.
    DnsReplyBuilder longData = ReplyHeader(2);
    longData.ARecord(1).Pointer(12).Fixed(16, 1, 200).Raw("short");
    Parsed q = Parse(longData.bytes);
    EXPECT_EQ(q.records[0].addressOrSerial, htonl(1));
    EXPECT_TRUE(Untouched(q.records[1]));
    DnsReplyBuilder cut = ReplyHeader(2);
    cut.ARecord(1).Pointer(12).U16(1).U16(1);
    EXPECT_TRUE(Untouched(Parse(cut.bytes).records[1]));

    // Data too short for its type: A of two bytes, MX of one, SOA without its numbers.
    for (auto [type, length] : {std::pair<int, int>{1, 2}, {15, 1}, {6, 4}, {13, 3}, {2, 0}}) {
        DnsReplyBuilder shortData = ReplyHeader(2);
        shortData.ARecord(1).Pointer(12).Fixed(std::uint16_t(type), 1, std::uint16_t(length));
        for (int i = 0; i < length; ++i)
            shortData.U8(1);
        shortData.ARecord(3);
        Parsed s = Parse(shortData.bytes);
        EXPECT_EQ(s.request.count, 2) << type;
        EXPECT_EQ(s.records[0].addressOrSerial, htonl(1)) << type;
        EXPECT_TRUE(Untouched(s.records[1])) << type;
    }

    // A question longer than the reply.
    DnsReplyBuilder headerOnly;
    headerOnly.Header(1234, 0x8180, 1, 3, 0, 0).U8(0);
    Parsed h = Parse(headerOnly.bytes);
    EXPECT_EQ(h.result, 0);
    EXPECT_EQ(h.request.count, 3);
    EXPECT_TRUE(Untouched(h.records[0]));
}

TEST(ParseDnsReply, PointerLoopInRecordDataEndsTheName)
{
    DnsReplyBuilder b = ReplyHeader(2);
    const std::uint16_t at = std::uint16_t(b.Size() + 12);
    b.Pointer(12).Fixed(5, 1, 2).Pointer(at);  // CNAME data pointing at itself
    b.ARecord(7);
    Parsed p = Parse(b.bytes);
    EXPECT_STREQ(p.records[0].name, "");
    EXPECT_EQ(p.records[1].addressOrSerial, htonl(7));
}

TEST(FormatDnsRecord, TextsAndLimits)
{
    DnsRecord r{};
    r.type = 15;
    r.preference = 65535;
    std::strcpy(r.name, "mx.example.test");
    EXPECT_EQ(Text(r), "MX: Preference: 65535, Exchange: mx.example.test\r\n");
    r = DnsRecord{};
    r.type = 1;
    r.addressOrSerial = 0xFFFFFFFF;
    EXPECT_EQ(Text(r), "A: address: 255.255.255.255\r\n");
    r.type = 99;
    EXPECT_EQ(Text(r), "Unknowns Record Type\r\n");

    // The longest text, an SOA with two 255-character names, fits in 1000.
    r = DnsRecord{};
    r.type = 6;
    std::memset(r.name, 'm', 255);
    std::memset(r.name2, 'r', 255);
    r.addressOrSerial = r.refresh = r.retry = r.expire = r.minimum = 0x80000000u;
    char out[1000];
    const int n = FormatDnsRecord(r, out, sizeof out);
    EXPECT_LT(n, 1000);
    EXPECT_EQ(std::strlen(out), size_t(n));
    // A small area gets what fits, terminated.
    char small[8];
    EXPECT_EQ(FormatDnsRecord(r, small, sizeof small), n);
    EXPECT_STREQ(small, "SOA:\tmn");
}
