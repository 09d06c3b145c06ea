// The DNS engine without a network, hostile input included; host addresses.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "dns/DnsMessage.h"
#include "hostcfg/ResolvConf.h"
#include "net/HostAddress.h"
#include "support/DnsReplyBuilder.h"
#include "support/TempFiles.h"

using Bytes = std::vector<std::uint8_t>;

TEST(BuildDnsQuery, BytesAndRefusals)
{
    const Bytes mx = {0x04, 0xD2, 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0, 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0, 0, 15, 0, 1};
    for (const char* name : {"example.com", "example.com.", "example..com", ".example.com"})
        EXPECT_EQ(BuildDnsQuery(1234, 15, name, true), mx) << name;
    EXPECT_EQ(BuildDnsQuery(1234, 15, "example.com", false)[2], 0x00);  // no RD
    const std::string label(63, 'a'), name = label + "." + label + "." + label + "." + label;  // 255 characters
    EXPECT_EQ(BuildDnsQuery(1, 1, name.c_str(), true).size(), 255u + 18);
    EXPECT_TRUE(BuildDnsQuery(1, 1, (name + "b").c_str(), true).empty());
    for (std::uint16_t type : {0, 1, 2, 5, 6, 12, 13, 15, 16, 28, 38})
        EXPECT_EQ(BuildDnsQuery(1, type, "a.b", true).empty(), type % 16 == 0 || type == 38) << type;
    EXPECT_EQ(BuildDnsQuery(1, 1, std::string(70, 'x').c_str(), true)[12], 70);  // the server judges a long label
}

TEST(DecodeDnsName, EveryReadStaysInsideTheMessage)
{
    DnsReplyBuilder chain;
    chain.Name("test").Labels("example").Pointer(0).Labels("mail").Pointer(6).U8(0);  // mail at 16, root at 23
    Bytes pointer41(270, 0);  // any byte from 64 up is a pointer: 0x41 0x05 leads to 261
    std::memcpy(pointer41.data(), "\3www\x41\x05", 6);
    std::memcpy(&pointer41[261], "\2nl", 3);
    std::string loop = "a";  // one "a" per allowed hop
    for (int i = 0; i < kDnsMaxPointerHops; ++i)
        loop += ".a";
    const struct {
        Bytes message;
        std::uint16_t offset, outSize;
        std::string text;
        int length;
    } cases[] = {
        {chain.bytes, 16, 256, "mail.example.test", 17},
        {chain.bytes, 16, 5, "mail", 17},  // cut to outSize - 1, the full length returned
        {pointer41, 0, 256, "www.nl", 6},
        {DnsReplyBuilder().Labels("a").Pointer(0).bytes, 0, 256, loop, int(loop.size())},
        {DnsReplyBuilder().Labels("ok").U8(3).Raw("ab").bytes, 0, 256, "ok", 2},  // a label past the end
        {DnsReplyBuilder().Labels("ok").bytes, 500, 256, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::vector<char> out(c.outSize + 1u, 'X');
        EXPECT_EQ(DecodeDnsName(c.message.data(), c.message.size(), c.offset, out.data(), c.outSize), c.length);
        EXPECT_EQ(std::string(out.data(), strnlen(out.data(), c.outSize)), c.text);
    }
}

// Records after a question for "example.test" A: their texts; where one's
// data is too short for its type, the parse ends there.
TEST(ParseDnsReply, RecordTexts)
{
    const struct {
        std::uint16_t type, length;
        std::string data, text;  // data: RDATA bytes after the fixed part
        int stored = 3;
    } cases[] = {
        {13, 10, "\3X86\5LINUX", "HINFO: cpu: X86, os: LINUX"},
        {6, 39, std::string("\3ns1\xC0\x0C\12hostmaster\xC0\x0C\xFF\xFF\xFF\xFF\0\0\x0E\x10\0\0\2\x58\0\1\x51\x80\0\0\1\x2C", 39),
         "SOA:\tmname: ns1.example.test,\r\n\tpname: hostmaster.example.test,\r\n\tserial: -1,\r\n"
         "\trefresh: 3600,\r\n\tretry: 600,\r\n\texpire: 86400,\r\n\tminimum: 300"},
        {15, 7, "\xFF\xFF\2mx\xC0\x0C", "MX: Preference: 65535, Exchange: mx.example.test"},
        {16, 4, "\3abc", "Unknowns Record Type"},
        {28, 16, std::string("\x20\1\x0d\xb8\0\0\0\0\0\1\0\0\0\0\0\1", 16), "AAAA: address: 2001:db8::1:0:0:1"},
        {1, 2, "\1\2", "", 1},
        {15, 1, "\1", "", 1},
        {6, 22, std::string("\1a\0\1b\0", 6) + std::string(16, '\1'), "", 1},
        {13, 3, "\3ab", "", 1},
        {2, 0, "", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.empty() ? "type " + std::to_string(c.type) + " cut short" : c.text);
        DnsReplyBuilder b;  // an answer, the record of the row as authority, an additional one
        b.Header(1234, 0x8180, 1, 1, 1, 1).Question("example.test", 1).ARecord(1);
        b.Pointer(12).Fixed(c.type, 77, c.length).Raw(c.data).ARecord(3);
        std::vector<DnsRecord> r(50);
        std::memset(r.data(), 0xEE, r.size() * sizeof(DnsRecord));  // marks what is never stored
        DnsRequest request{};
        request.count = 50;
        request.records = r.data();
        ASSERT_TRUE(ParseDnsReply(b.bytes.data(), b.Size(), 18, request));
        char text[1000] = "";
        if (request.stored == 3)
            FormatDnsRecord(r[1], text, sizeof text);
        EXPECT_EQ(std::vector({request.count, request.stored, int(r[0].section), int(r[1].section), int(r[2].section), int(r[1].ttl)}),
                  c.stored == 3 ? std::vector({3, 3, 0, 1, 2, 77}) : std::vector({3, 1, 0, 0xEE, 0xEE, int(0xEEEEEEEE)}));
        EXPECT_EQ(std::vector({r[0].addressOrSerial, r[2].addressOrSerial}), std::vector({htonl(1), c.stored == 3 ? htonl(3) : 0xEEEEEEEEu}));
        EXPECT_EQ(text, c.stored == 3 ? c.text + "\r\n" : "");
    }
}

TEST(DnsRecordText, ErrorCodes)
{
    for (auto [code, line] : {std::pair<int, const char*>{0, ""}, {3, ""}, {2, "Error Code 2 (SERVFAIL)!"},
                              {10, "Error Code 10 (NOTZONE)!"}, {15, "Error Code 15!"}})
        EXPECT_EQ(DnsResponseCodeLine(std::uint8_t(code)), *line ? "Server Returned " + std::string(line) + "\r\n\r\n" : "");
}

TEST(HostAddress, ConversionsAndTheDefaultServer)
{
    char seven[7] = "keep", eight[8];  // "1.2.3.4" needs 8
    EXPECT_FALSE(AddressToText(htonl(0x01020304), seven, sizeof seven));
    EXPECT_TRUE(AddressToText(htonl(0x01020304), eight, sizeof eight));
    EXPECT_EQ(std::string(seven) + " " + eight, "keep 1.2.3.4");
    EXPECT_TRUE(LooksLikeAddress("1abc2"));  // by the first and last character only
    EXPECT_FALSE(LooksLikeAddress("1.2.3.4a"));

    TempFiles files("resolv");
    const std::string resolv = files.Write("resolv", "nameserver 2001:db8::53\nnameserver 192.0.2.7\nnameserver 192.0.2.8\n");
    const std::string none = files.Path("none");
    EXPECT_EQ(IpText(DefaultDnsServerAddress(resolv.c_str(), none.c_str())), "2001:db8::53");
    EXPECT_TRUE(DefaultDnsServerAddress(none.c_str(), none.c_str()).IsNone());
}
