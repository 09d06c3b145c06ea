// The privilege helper's request and answer formats: exactly three request
// forms, everything else refused.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <tuple>

#include "netcap/NetcapRequest.h"

TEST(NetcapRequestTest, TheThreeForms)
{
    const std::pair<const char*, NetcapKind> forms[] = {
        {"icmp\n", NetcapKind::RawIcmp},
        {"packet eth0\n", NetcapKind::PacketSocket},
        {"packet abcdefghijklmno\n", NetcapKind::PacketSocket},  // 15 characters
        {"kill 127.0.0.1 40000 10.1.2.3 25\n", NetcapKind::KillTcp},
    };
    for (auto [text, kind] : forms) {
        auto request = ParseNetcapRequest(text);
        ASSERT_TRUE(request) << text;
        EXPECT_EQ(request->kind, kind) << text;
        EXPECT_EQ(FormatNetcapRequest(*request), text);
    }
    EXPECT_EQ(ParseNetcapRequest("packet eth0\n")->interfaceName, "eth0");
    auto kill = ParseNetcapRequest("kill 127.0.0.1 40000 10.1.2.3 25\n");
    EXPECT_EQ(std::tuple(kill->localAddress, kill->localPort, kill->remoteAddress, kill->remotePort),
              std::tuple(inet_addr("127.0.0.1"), 40000, inet_addr("10.1.2.3"), 25));
}

TEST(NetcapRequestTest, RefusesEverythingElse)
{
    const char* refused[] = {
        "", "\n", "icmp", "icmp \n", " icmp\n", "icmp\n\n", "ICMP\n", "icmp extra\n", "icmp\r\n",
        "raw\n", "packet\n", "packet \n", "packet eth0 eth1\n", "packet  eth0\n",
        "packet abcdefghijklmnop\n",  // 16 characters
        "packet a/b\n", "packet a:1\n", "packet .\n", "packet ..\n", "packet e\tth\n", "packet \xc3\xa9th\n",
        "kill 127.0.0.1 40000 10.1.2.3\n", "kill 127.0.0.1 40000 10.1.2.3 25 1\n",
        "kill 127.0.0.1 0 10.1.2.3 25\n", "kill 127.0.0.1 65536 10.1.2.3 25\n", "kill 127.0.0.1 040 10.1.2.3 25\n",
        "kill 127.0.0.1 +40 10.1.2.3 25\n", "kill 127.0.0.1 4294967336 10.1.2.3 25\n",
        "kill 127.0.0.256 40 10.1.2.3 25\n", "kill 127.0.0 40 10.1.2.3 25\n", "kill 127.0.0.1.5 40 10.1.2.3 25\n",
        "kill 127.00.0.1 40 10.1.2.3 25\n", "kill 127..0.1 40 10.1.2.3 25\n", "kill ::1 40 10.1.2.3 25\n",
        "kill localhost 40 10.1.2.3 25\n",
    };
    for (const char* text : refused)
        EXPECT_FALSE(ParseNetcapRequest(text)) << '"' << text << '"';
    EXPECT_FALSE(ParseNetcapRequest(std::string_view("icmp\0\n", 6)));
    EXPECT_FALSE(ParseNetcapRequest(std::string(200, 'x') + "\n"));
}

TEST(NetcapRequestTest, Replies)
{
    EXPECT_EQ(ParseNetcapReply("ok\n"), 0);
    EXPECT_EQ(ParseNetcapReply("error 1\n"), 1);
    EXPECT_EQ(ParseNetcapReply(FormatNetcapReply(19)), 19);
    EXPECT_EQ(FormatNetcapReply(0), "ok\n");
    for (const char* text : {"", "ok", "error 0\n", "error\n", "error -1\n", "error 01\n", "error 5000\n", "ok\nx"})
        EXPECT_FALSE(ParseNetcapReply(text)) << text;
}
