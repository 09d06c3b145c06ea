// Host addresses: conversion both ways and the default DNS server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "dns/HostAddress.h"

namespace {

class TempFiles : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char pattern[] = "/tmp/quorlix-resolv-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    std::string Write(const std::string& name, const std::string& text)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    static std::string Dotted(std::uint32_t a)
    {
        char text[20] = "";
        AddressToText(a, text, sizeof text);
        return text;
    }
};

}  // namespace

TEST(LookupHostAddress, DigitsAreConvertedNeverLookedUp)
{
    EXPECT_EQ(LookupHostAddress("127.0.0.2"), htonl(0x7F000002));
    EXPECT_EQ(LookupHostAddress("1abc"), 0xFFFFFFFFu);
    EXPECT_EQ(LookupHostAddress("1abc2"), 0xFFFFFFFFu);
    EXPECT_EQ(LookupHostAddress(nullptr), 0u);
    // Found in /etc/hosts, before any name server is asked.
    EXPECT_EQ(LookupHostAddress("localhost"), htonl(0x7F000001));
}

TEST(AddressToText, DottedTextOrNothing)
{
    char text[20];
    ASSERT_EQ(AddressToText(0xFFFFFFFF, text, sizeof text), 1);
    EXPECT_STREQ(text, "255.255.255.255");
    ASSERT_EQ(AddressToText(0, text, sizeof text), 1);
    EXPECT_STREQ(text, "0.0.0.0");

    char seven[7] = "keep";
    EXPECT_EQ(AddressToText(htonl(0x0A000001), seven, sizeof seven), 0);  // "10.0.0.1" needs 9
    EXPECT_STREQ(seven, "keep");
    EXPECT_EQ(AddressToText(htonl(0x01020304), seven, sizeof seven), 0);  // "1.2.3.4" needs 8
    char eight[8];
    EXPECT_EQ(AddressToText(htonl(0x01020304), eight, sizeof eight), 1);
    EXPECT_STREQ(eight, "1.2.3.4");
    EXPECT_EQ(AddressToText(1, nullptr, 20), 0);
    EXPECT_EQ(AddressToText(1, text, 0), 0);
}

TEST_F(TempFiles, DefaultDnsServerIsTheFirstIpv4NameServer)
{
    auto conf = Write("resolv.conf",
                      "# comment\nsearch example.test\nnameserver fe80::1%eth0\n"
                      "nameserver 192.0.2.7 \nnameserver 192.0.2.8\n");
    EXPECT_EQ(Dotted(GetDefaultDnsServer(conf.c_str(), nullptr)), "192.0.2.7");
    auto none = Write("none.conf", "search example.test\n;nameserver 192.0.2.1\n");
    EXPECT_EQ(GetDefaultDnsServer(none.c_str(), nullptr), 0u);
    EXPECT_EQ(GetDefaultDnsServer((dir + "/missing").c_str(), nullptr), 0u);
}

TEST_F(TempFiles, BehindTheLocalStubTheUpstreamServerIsUsed)
{
    auto stub = Write("stub.conf", "nameserver 127.0.0.53\noptions edns0 trust-ad\n");
    auto upstream = Write("upstream.conf", "nameserver 2001:db8::1\nnameserver 198.51.100.1\n");
    EXPECT_EQ(Dotted(GetDefaultDnsServer(stub.c_str(), upstream.c_str())), "198.51.100.1");
    // Without a published upstream list the stub itself is the server.
    EXPECT_EQ(Dotted(GetDefaultDnsServer(stub.c_str(), (dir + "/missing").c_str())), "127.0.0.53");
    // Any other local server is a server of its own.
    auto local = Write("local.conf", "nameserver 127.0.0.1\n");
    EXPECT_EQ(Dotted(GetDefaultDnsServer(local.c_str(), upstream.c_str())), "127.0.0.1");
}
