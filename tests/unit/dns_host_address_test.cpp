// Host addresses: conversion both ways and the default DNS server.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "hostcfg/ResolvConf.h"
#include "net/HostAddress.h"
#include "support/TempFiles.h"

TEST(HostAddress, ConversionsBothWays)
{
    EXPECT_EQ(LookupHostAddress("127.0.0.2"), htonl(0x7F000002));
    EXPECT_EQ(LookupHostAddress("1abc"), 0xFFFFFFFFu);  // a leading digit is never looked up
    EXPECT_EQ(LookupHostAddress(nullptr), 0u);
    EXPECT_EQ(LookupHostAddress("localhost"), htonl(0x7F000001));  // /etc/hosts

    char seven[7] = "keep";
    EXPECT_FALSE(AddressToText(htonl(0x01020304), seven, sizeof seven));  // "1.2.3.4" needs 8
    EXPECT_STREQ(seven, "keep");
    EXPECT_FALSE(AddressToText(1, nullptr, 20));
}

// The resolver files' readings are in the Net Info tests: here, the first
// IPv4 server of theirs, or none.
TEST(HostAddress, DefaultDnsServer)
{
    TempFiles files("resolv");
    const std::string resolv = files.Write("resolv", "nameserver fe80::1%eth0\nnameserver 192.0.2.7\nnameserver 192.0.2.8\n");
    const std::string none = files.Path("none");
    EXPECT_EQ(GetDefaultDnsServer(resolv.c_str(), none.c_str()), htonl(0xC0000207));
    EXPECT_EQ(GetDefaultDnsServer(none.c_str(), none.c_str()), 0u);
}
