// The echo probe's matching of received ICMP datagrams to the echo sent, and
// SendEcho, PingHost, IcmpStatusName and the trace's text and stop rule on a
// fake probe.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "icmp/EchoReports.h"
#include "os/CancelToken.h"
#include "support/FakeEchoProbe.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Echo = FakeEchoProbe::Echo;
using Clock = std::chrono::steady_clock;

const Bytes kUs{10, 200, 1, 2}, kRouterBytes{10, 200, 1, 1}, kTargetBytes{10, 200, 3, 2};
constexpr std::uint16_t kId = 0x1234, kSeq = 0x0102;
const std::uint32_t kTarget = inet_addr("10.200.3.2"), kRouter = inet_addr("10.200.1.1");

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes IpHeader(const Bytes& src, const Bytes& dst, std::uint8_t ttl = 64, std::uint8_t protocol = 1)
{
    return Bytes{0x45, 0, 0, 0, 0, 0, 0, 0, ttl, protocol, 0, 0} + src + dst;
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq, std::size_t dataSize = 0)
{
    const std::uint8_t head[] = {type, code, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id), std::uint8_t(seq >> 8),
                                 std::uint8_t(seq)};
    Bytes m(sizeof head + dataSize, 0x45);
    std::memcpy(m.data(), head, sizeof head);
    return m;
}

// A router's report quoting an echo of ours.
Bytes Report(std::uint8_t type, std::uint8_t code, std::uint16_t id = kId, std::uint16_t seq = kSeq,
             const Bytes& quotedDst = kTargetBytes)
{
    return IpHeader(kRouterBytes, kUs) + Icmp(type, code, 0, 0) + IpHeader(kUs, quotedDst, 1) + Icmp(8, 0, id, seq);
}

std::optional<EchoAnswer> Parse(const Bytes& b, std::size_t size = SIZE_MAX)
{
    return ParseRawIcmpAnswer({b.data(), std::min(size, b.size())}, kTarget, kId, kSeq);
}

auto Fields(const EchoAnswer& a)
{
    return std::tuple(a.status, a.from, a.ttl);
}

auto Fields(const EchoResult& r)
{
    return std::tuple(r.address, r.status, r.roundTripMs);
}

std::string Trace(FakeEchoProbe& probe, const CancelToken* token = nullptr)
{
    std::string out;
    RunTrace("10.0.0.9", [&](std::string_view s) { out += s; }, probe, token);
    return out;
}

}  // namespace

TEST(RawAnswerTest, EchoReplyOrReportOfOurEchoAlone)
{
    const auto reply = Parse(IpHeader(kTargetBytes, kUs, 61) + Icmp(0, 0, kId, kSeq, 32));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Fields(*reply), std::tuple(EchoStatus::Reply, kTarget, std::uint8_t(61)));

    // type, code; the answer, and the name a trace prints for it
    const std::tuple<int, int, EchoStatus, const char*> reports[] = {
        {11, 0, EchoStatus::TtlExpiredTransit, "TTL_EXPIRED_TRANSIT"},
        {11, 1, EchoStatus::TtlExpiredReassembly, "TTL_EXPIRED_REASSEM"},
        {3, 0, EchoStatus::NetUnreachable, "DEST_NET_UNREACHABLE"},
        {3, 11, EchoStatus::NetUnreachable, "DEST_NET_UNREACHABLE"},
        {3, 2, EchoStatus::ProtocolUnreachable, "DEST_PROT_UNREACHABLE"},
        {3, 3, EchoStatus::PortUnreachable, "DEST_PORT_UNREACHABLE"},
        {3, 4, EchoStatus::FragmentationNeeded, "PACKET_TOO_BIG"},
        {3, 5, EchoStatus::SourceRouteFailed, "BAD_ROUTE"},
        {3, 13, EchoStatus::HostUnreachable, "DEST_HOST_UNREACHABLE"},
        {12, 0, EchoStatus::ParameterProblem, "PARAM_PROBLEM"},
        {4, 0, EchoStatus::SourceQuench, "SOURCE_QUENCH"},
    };
    FakeEchoProbe fake;
    for (auto [type, code, status, name] : reports) {
        const auto a = Parse(Report(std::uint8_t(type), std::uint8_t(code)));
        ASSERT_TRUE(a) << type << '/' << code;
        EXPECT_EQ(Fields(*a), std::tuple(status, kRouter, std::uint8_t(64))) << type << '/' << code;
        fake.answer = [&a](const Echo&) { return *a; };
        EXPECT_STREQ(IcmpStatusName(SendEcho(fake, kTarget, 1, 0, nullptr).status), name);
    }

    const Bytes others[] = {
        IpHeader(kTargetBytes, kUs) + Icmp(0, 0, kId + 1, kSeq),     // another program's reply
        IpHeader(kTargetBytes, kUs) + Icmp(0, 0, kId, kSeq + 1),     // another echo of ours
        IpHeader(kUs, kTargetBytes) + Icmp(8, 0, kId, kSeq),         // our own request, on loopback
        IpHeader(kTargetBytes, kUs, 64, 6) + Icmp(0, 0, kId, kSeq),  // not ICMP
        Report(11, 0, kId + 1), Report(11, 0, kId, kSeq + 1),        // reports on others' echoes
        Report(11, 0, kId, kSeq, kRouterBytes),                      // on an echo to elsewhere
        Report(5, 0),                                                // a redirect answers nothing
    };
    for (const Bytes& other : others)
        EXPECT_FALSE(Parse(other)) << &other - others;
}

TEST(RawAnswerTest, ShortOrMalformedDatagramsAreNoAnswer)
{
    const Bytes good = Report(11, 0);
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(Parse(good, n)) << n;
    // a header longer than the datagram, IPv6, a quoted header shorter than 20
    for (auto [at, value] : {std::pair(0, 0x4F), std::pair(0, 0x65), std::pair(28, 0x44)}) {
        Bytes bad = good;
        bad[at] = std::uint8_t(value);
        EXPECT_FALSE(Parse(bad)) << value;
    }
}

TEST(DatagramAnswerTest, EchoReplyBySequence)
{
    const Bytes reply = Icmp(0, 0, 999, kSeq, 32), request = Icmp(8, 0, 999, kSeq);  // the kernel's identifier
    EXPECT_TRUE(IsDatagramEchoReply(reply, kSeq));
    EXPECT_FALSE(IsDatagramEchoReply(reply, kSeq + 1));
    EXPECT_FALSE(IsDatagramEchoReply({reply.data(), 7}, kSeq));
    EXPECT_FALSE(IsDatagramEchoReply(request, kSeq));
}

TEST(EchoTest, SendEchoRequestAndResult)
{
    using enum EchoStatus;
    struct Case {
        int ttl; std::uint32_t timeout; EchoAnswer answer;  // asked, and answered
        int sentTtl; int sentTimeout;                       // sent
        EchoResult want;                                    // given back
    };
    const Case cases[] = {
        {0, 0, {Reply, kTarget, 7}, 255, 3000, {kTarget, 0, 7}},                       // 0 means 255 and 3000 ms
        {256, 2000, {TtlExpiredTransit, kRouter, 3}, 255, 2000, {kRouter, 11013, 3}},  // a router's report answers
        {0x1107, 1, {TimedOut}, 7, 1, {0, 11010, -1}},
        {1, 0, {NetUnreachable}, 1, 3000, {0, 11002, -1}},  // the local route: no answer, yet its status
        {1, 0, {Failed}, 1, 3000, {0, 11050, -1}},
    };
    FakeEchoProbe fake;
    for (const Case& c : cases) {
        fake.answer = [&c](const Echo&) { return c.answer; };
        const auto before = Clock::now();
        const EchoResult r = SendEcho(fake, kTarget, c.ttl, c.timeout, nullptr);
        const auto after = Clock::now();
        EXPECT_EQ(Fields(r), Fields(c.want)) << c.ttl;
        const Echo& e = fake.sent.back();
        const auto timeout = std::chrono::milliseconds(c.sentTimeout);
        EXPECT_EQ(std::tuple(e.destination, e.ttl), std::tuple(kTarget, c.sentTtl));
        EXPECT_TRUE(e.deadline >= before + timeout && e.deadline <= after + timeout) << c.ttl;
        EXPECT_EQ(e.data, std::vector<std::uint8_t>(32, 0x45));
    }

    fake.answer = [](const Echo&) { return EchoAnswer{EchoStatus::Reply, kTarget, 3}; };
    EXPECT_EQ(PingHost(fake, kTarget, nullptr), 3);
    fake.answer = [](const Echo&) { return EchoAnswer{EchoStatus::HostUnreachable, kRouter, 3}; };
    EXPECT_EQ(PingHost(fake, kTarget, nullptr), -1);  // a router's report is no answer of the host
    EXPECT_EQ(fake.sent.back().ttl, 128);
}

TEST(IcmpStatusNameTest, Names)
{
    for (auto [status, want] : {std::pair(11255u, "PENDING"), {11024u, "Status Unknown"}, {0u, "SUCCESS"}})
        EXPECT_STREQ(IcmpStatusName(status), want) << status;
}

TEST(StopRuleTest, Table)
{
    const std::tuple<int, int, std::uint32_t, bool> cases[] = {
        {1, 1, 0, false},       {200, 1, 0, false},     // the destination answered
        {1, 1, 11013, true},    {253, 1, 11003, true},  // a router's report, unreachable too
        {1, 0, 11010, true},    {1, 0, 0, true},        // a silent first hop is stepped over
        {2, 0, 11010, false},                           // a later one ends the trace
        {254, 1, 11013, false}, {254, 0, 11010, false}, // the last time-to-live
    };
    for (auto [ttl, replied, status, goesOn] : cases)
        EXPECT_EQ(TraceGoesOn(ttl, replied, status), goesOn) << ttl << ' ' << replied << ' ' << status;
}

TEST(EchoTest, TraceEndsAfter254HopsOrACancel)
{
    FakeEchoProbe fake;
    fake.answer = [](const Echo&) { return EchoAnswer{EchoStatus::HostUnreachable, 0xFFFFFFFF, 123456}; };
    const auto before = Clock::now();
    const std::string out = Trace(fake);
    const auto hop = fake.sent.back().deadline - std::chrono::milliseconds(2000);
    EXPECT_EQ(fake.sent.size(), 254u);
    EXPECT_TRUE(hop >= before && hop <= Clock::now());
    EXPECT_TRUE(out.ends_with("\r\n254  255.255.255.255  123456  DEST_HOST_UNREACHABLE\r\n\r\nTrace Complete")) << out;

    CancelToken token;
    fake.sent.clear();
    fake.answer = [&token](const Echo& e) {
        if (e.ttl == 2)
            token.Cancel();
        return EchoAnswer{EchoStatus::TtlExpiredTransit, kRouter, 0};
    };
    Trace(fake, &token);
    EXPECT_EQ(fake.sent.size(), 2u) << "no echo after the cancel";
}
