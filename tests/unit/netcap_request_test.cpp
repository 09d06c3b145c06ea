// The privilege helper's messages: exactly three opening requests, the echo
// session's fixed-size records, everything else refused.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <tuple>

#include "privilege/NetcapRequest.h"

TEST(NetcapRequestTest, TheThreeForms)
{
    const std::pair<const char*, NetcapKind> forms[] = {
        {"echo\n", NetcapKind::Echo},
        {"capture eth0 0 0 80\n", NetcapKind::Capture},
        {"capture abcdefghijklmno 2 1 65535\n", NetcapKind::Capture},  // 15 characters
        {"kill 127.0.0.1 40000 10.1.2.3 25\n", NetcapKind::KillTcp},
    };
    for (auto [text, kind] : forms) {
        auto request = ParseNetcapRequest(text);
        ASSERT_TRUE(request) << text;
        EXPECT_EQ(request->kind, kind) << text;
        EXPECT_EQ(FormatNetcapRequest(*request), text);
    }
    const auto capture = ParseNetcapRequest("capture eth0 2 1 53\n");
    EXPECT_EQ(std::tuple(capture->interfaceName, capture->protocolFilter, capture->portDirection, capture->portFilter),
              std::tuple("eth0", CaptureProtocol::Udp, PortDirection::Source, 53));
    const auto kill = ParseNetcapRequest("kill 127.0.0.1 40000 10.1.2.3 25\n");
    EXPECT_EQ(std::tuple(kill->localAddress, kill->localPort, kill->remoteAddress, kill->remotePort),
              std::tuple(inet_addr("127.0.0.1"), 40000, inet_addr("10.1.2.3"), 25));
}

TEST(NetcapRequestTest, RefusesEverythingElse)
{
    const char* refused[] = {
        "", "\n", "echo", "echo \n", " echo\n", "echo\n\n", "ECHO\n", "echo extra\n", "echo\r\n",
        "icmp\n", "packet eth0\n", "raw\n",
        "capture\n", "capture eth0\n", "capture eth0 0 0\n", "capture eth0 0 0 80 1\n", "capture  eth0 0 0 80\n",
        "capture abcdefghijklmnop 0 0 80\n",  // 16 characters
        "capture a/b 0 0 80\n", "capture a:1 0 0 80\n", "capture . 0 0 80\n", "capture .. 0 0 80\n",
        "capture e\tth 0 0 80\n", "capture \xc3\xa9th 0 0 80\n",
        "capture eth0 3 0 80\n", "capture eth0 0 3 80\n", "capture eth0 -1 0 80\n", "capture eth0 0 0 0\n",
        "capture eth0 0 0 65536\n", "capture eth0 0 0 080\n", "capture eth0 00 0 80\n",
        "capture eth0 0 0 4294967376\n",  // wraps to 80 in 32 bits
        "kill 127.0.0.1 40000 10.1.2.3\n", "kill 127.0.0.1 40000 10.1.2.3 25 1\n",
        "kill 127.0.0.1 0 10.1.2.3 25\n", "kill 127.0.0.1 65536 10.1.2.3 25\n", "kill 127.0.0.1 040 10.1.2.3 25\n",
        "kill 127.0.0.1 +40 10.1.2.3 25\n", "kill 127.0.0.1 4294967336 10.1.2.3 25\n",
        "kill 127.0.0.1 9999999999 10.1.2.3 25\n", "kill 127.0.0.4294967297 40 10.1.2.3 25\n",
        "kill 127.0.0.256 40 10.1.2.3 25\n", "kill 127.0.0 40 10.1.2.3 25\n", "kill 127.0.0.1.5 40 10.1.2.3 25\n",
        "kill 127.00.0.1 40 10.1.2.3 25\n", "kill 127..0.1 40 10.1.2.3 25\n", "kill ::1 40 10.1.2.3 25\n",
        "kill localhost 40 10.1.2.3 25\n",
    };
    for (const char* text : refused)
        EXPECT_FALSE(ParseNetcapRequest(text)) << '"' << text << '"';
    EXPECT_FALSE(ParseNetcapRequest(std::string_view("echo\0\n", 6)));
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

TEST(NetcapRequestTest, EchoSessionMessages)
{
    const NetcapEchoAsk ask{.serial = 7, .destination = inet_addr("10.200.3.2"), .timeoutMs = 4000, .ttl = 3};
    const std::vector<std::uint8_t> message = FormatNetcapEchoAsk(ask, "abc", 3);
    std::vector<std::uint8_t> data;
    auto parsed = ParseNetcapEchoAsk(message.data(), message.size(), data);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(std::tuple(parsed->serial, parsed->destination, parsed->timeoutMs, parsed->ttl, data),
              std::tuple(7u, ask.destination, 4000u, 3, std::vector<std::uint8_t>{'a', 'b', 'c'}));

    // ttl 0, no time-out, a time-out too long, reserved bits set
    for (const NetcapEchoAsk& bad : {NetcapEchoAsk{.timeoutMs = 4000, .ttl = 0}, {.timeoutMs = 0, .ttl = 3},
                                     {.timeoutMs = kNetcapMaxEchoTimeoutMs + 1, .ttl = 3},
                                     {.timeoutMs = 4000, .ttl = 3, .reserved = {0, 0, 1}}}) {
        const auto bytes = FormatNetcapEchoAsk(bad, nullptr, 0);
        EXPECT_FALSE(ParseNetcapEchoAsk(bytes.data(), bytes.size(), data)) << bad.timeoutMs << ' ' << int(bad.ttl);
    }
    EXPECT_FALSE(ParseNetcapEchoAsk(message.data(), sizeof ask - 1, data));  // short
    const std::vector<std::uint8_t> huge = FormatNetcapEchoAsk(ask, std::vector<char>(kNetcapMaxEchoData + 1).data(),
                                                               kNetcapMaxEchoData + 1);
    EXPECT_FALSE(ParseNetcapEchoAsk(huge.data(), huge.size(), data));

    // records written, data carried, accepted; a failed echo carries no data
    for (auto [replied, size, accepted] : {std::tuple{1u, 2u, true}, {0u, 2u, false}, {2u, 0u, false}}) {
        const NetcapEchoAnswer answer{.serial = 7, .replied = replied, .ttl = 64};
        const auto reply = FormatNetcapEchoAnswer(answer, "xy", size);
        EXPECT_EQ(ParseNetcapEchoAnswer(reply.data(), reply.size(), data).has_value(), accepted) << replied;
        EXPECT_TRUE(!accepted || data == (std::vector<std::uint8_t>{'x', 'y'}));
    }
}
