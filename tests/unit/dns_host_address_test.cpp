// Host addresses: conversion both ways and the default DNS server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dns/HostAddress.h"

namespace {

std::string Dotted(std::uint32_t a)
{
    char text[20] = "";
    AddressToText(a, text, sizeof text);
    return text;
}

}  // namespace

TEST(HostAddress, ConversionsBothWays)
{
    EXPECT_EQ(LookupHostAddress("127.0.0.2"), htonl(0x7F000002));
    EXPECT_EQ(LookupHostAddress("1abc"), 0xFFFFFFFFu);  // a leading digit is never looked up
    EXPECT_EQ(LookupHostAddress(nullptr), 0u);
    EXPECT_EQ(LookupHostAddress("localhost"), htonl(0x7F000001));  // /etc/hosts

    char seven[7] = "keep";
    EXPECT_EQ(AddressToText(htonl(0x01020304), seven, sizeof seven), 0);  // "1.2.3.4" needs 8
    EXPECT_STREQ(seven, "keep");
    EXPECT_EQ(AddressToText(1, nullptr, 20), 0);
}

TEST(HostAddress, DefaultDnsServer)
{
    const std::string dir = "/tmp/quorlix-resolv-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    auto write = [&](const char* name, const char* text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    };
    const std::string missing = dir + "/missing";
    auto server = [&](const char* resolvConf, const char* stubUpstream) {  // null: no such file
        return Dotted(GetDefaultDnsServer(resolvConf ? write("resolv", resolvConf).c_str() : missing.c_str(),
                                          stubUpstream ? write("upstream", stubUpstream).c_str() : missing.c_str()));
    };
    const char* const upstream = "nameserver 2001:db8::1\nnameserver 198.51.100.1\n";
    EXPECT_EQ(server("# x\nsearch example.test\nnameserver fe80::1%eth0\nnameserver 192.0.2.7 \nnameserver 192.0.2.8\n",
                     upstream),
              "192.0.2.7");  // the first IPv4 one
    EXPECT_EQ(server(";nameserver 192.0.2.1\n", upstream), "0.0.0.0");
    EXPECT_EQ(server(nullptr, nullptr), "0.0.0.0");
    // Behind systemd-resolved's stub, the upstream server it publishes, if any.
    EXPECT_EQ(server("nameserver 127.0.0.53\noptions edns0 trust-ad\n", upstream), "198.51.100.1");
    EXPECT_EQ(server("nameserver 127.0.0.53\n", nullptr), "127.0.0.53");
    EXPECT_EQ(server("nameserver 127.0.0.1\n", upstream), "127.0.0.1");
    std::filesystem::remove_all(dir);
}
