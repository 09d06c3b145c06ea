// The echo probe's matching of received ICMP datagrams; SendEcho, PingHost and the trace on a fake probe; the
// privilege helper's messages.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "icmp/EchoProbe.h"
#include "icmp/EchoReports.h"
#include "os/CancelToken.h"
#include "privilege/NetcapRequest.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using enum EchoStatus;
using std::chrono::milliseconds;

// Records every echo sent (its data gone with the call) and answers each as `answer` says.
struct FakeEchoProbe : EchoProbe {
    std::function<EchoAnswer(const EchoRequest&)> answer;
    std::vector<EchoRequest> sent;
    EchoAnswer Send(const EchoRequest& r, const CancelToken*) override { return sent.push_back(r), answer(r); }
};

const Bytes kUs{10, 200, 1, 2}, kRouterBytes{10, 200, 1, 1}, kTargetBytes{10, 200, 3, 2};
constexpr std::uint16_t kId = 0x1234, kSeq = 0x0102;
const IpAddress kTarget = IpAddress::V4(inet_addr("10.200.3.2")), kRouter = IpAddress::V4(inet_addr("10.200.1.1"));
const IpAddress k6Target = *ParseIpLiteral("2001:db8:3::2"), k6Router = *ParseIpLiteral("2001:db8:1::1");

Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Bytes Ip(const Bytes& src, const Bytes& dst, std::uint8_t ttl = 64, std::uint8_t protocol = 1)
{
    return Bytes{0x45, 0, 0, 0, 0, 0, 0, 0, ttl, protocol, 0, 0} + src + dst;
}
Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id = kId, std::uint16_t seq = kSeq)
{
    return {type, code, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id), std::uint8_t(seq >> 8), std::uint8_t(seq)};
}
// A router's report quoting an echo of ours.
Bytes Report(std::uint8_t type, std::uint8_t code, std::uint16_t id = kId, std::uint16_t seq = kSeq,
             const Bytes& quotedDst = kTargetBytes)
{
    return Ip(kRouterBytes, kUs) + Icmp(type, code, 0, 0) + Ip(kUs, quotedDst, 1) + Icmp(8, 0, id, seq);
}
Bytes With(Bytes b, std::size_t at, std::uint8_t value) { return b.at(at) = value, b; }
Bytes Report6(std::uint8_t type, std::uint8_t code, std::uint16_t id = kId, std::uint16_t seq = kSeq, const IpAddress& to = k6Target)
{  // quoting an echo of ours: IPv6 header (version, next header 58, destination), echo request
    return Icmp(type, code, 0, 0) + Bytes{0x60, 0, 0, 0, 0, 0, 58, 1} + Bytes(16, 0) + Bytes(to.Bytes(), to.Bytes() + 16) + Icmp(128, 0, id, seq);
}

}  // namespace

TEST(RawAnswerTest, OurEchoReplyOrAReportOnItAlone)
{
    // datagram; the answer (nothing for nullopt), and the name a trace prints for it. Nothing answers another
    // program's reply, another echo of ours, our own request on loopback, what is not ICMP, reports on others' echoes
    // or on one to elsewhere, a redirect, a header longer than the datagram, IPv6, a quoted header shorter than 20.
    const std::tuple<Bytes, std::optional<EchoStatus>, const char*> cases[] = {
        {Ip(kTargetBytes, kUs, 61) + Icmp(0, 0) + Bytes(32, 0x45), Reply, "SUCCESS"},
        {Report(11, 0), TtlExpiredTransit, "TTL_EXPIRED_TRANSIT"}, {Report(11, 1), TtlExpiredReassembly, "TTL_EXPIRED_REASSEM"},
        {Report(3, 0), NetUnreachable, "DEST_NET_UNREACHABLE"}, {Report(3, 11), NetUnreachable, "DEST_NET_UNREACHABLE"},
        {Report(3, 2), ProtocolUnreachable, "DEST_PROT_UNREACHABLE"}, {Report(3, 3), PortUnreachable, "DEST_PORT_UNREACHABLE"},
        {Report(3, 4), FragmentationNeeded, "PACKET_TOO_BIG"}, {Report(3, 5), SourceRouteFailed, "BAD_ROUTE"},
        {Report(3, 13), HostUnreachable, "DEST_HOST_UNREACHABLE"}, {Report(12, 0), ParameterProblem, "PARAM_PROBLEM"},
        {Report(4, 0), SourceQuench, "SOURCE_QUENCH"},
        {Ip(kTargetBytes, kUs) + Icmp(0, 0, kId + 1), {}, ""}, {Ip(kTargetBytes, kUs) + Icmp(0, 0, kId, kSeq + 1), {}, ""},
        {Ip(kUs, kTargetBytes) + Icmp(8, 0), {}, ""}, {Ip(kTargetBytes, kUs, 64, 6) + Icmp(0, 0), {}, ""},
        {Report(11, 0, kId + 1), {}, ""}, {Report(11, 0, kId, kSeq + 1), {}, ""},
        {Report(11, 0, kId, kSeq, kRouterBytes), {}, ""}, {Report(5, 0), {}, ""},
        {With(Report(11, 0), 0, 0x4F), {}, ""}, {With(Report(11, 0), 0, 0x65), {}, ""}, {With(Report(11, 0), 28, 0x44), {}, ""},
        // ICMPv6, first byte not 4x: the kernel keeps the IPv6 header; another protocol or IPv4 quoted answers nothing
        {Icmp(129, 0) + Bytes(32, 0x45), Reply, "SUCCESS"}, {Report6(3, 0), TtlExpiredTransit, "TTL_EXPIRED_TRANSIT"},
        {Report6(3, 1), TtlExpiredReassembly, "TTL_EXPIRED_REASSEM"}, {Report6(1, 0), NetUnreachable, "DEST_NET_UNREACHABLE"},
        {Report6(1, 1), HostUnreachable, "DEST_HOST_UNREACHABLE"}, {Report6(1, 3), HostUnreachable, "DEST_HOST_UNREACHABLE"},
        {Report6(1, 4), PortUnreachable, "DEST_PORT_UNREACHABLE"}, {Report6(2, 0), FragmentationNeeded, "PACKET_TOO_BIG"},
        {Report6(4, 0), ParameterProblem, "PARAM_PROBLEM"}, {Icmp(129, 0, kId + 1), {}, ""}, {Icmp(129, 0, kId, kSeq + 1), {}, ""},
        {Icmp(128, 0), {}, ""}, {Report6(137, 0), {}, ""}, {Report6(3, 0, kId + 1), {}, ""}, {Report6(3, 0, kId, kSeq + 1), {}, ""},
        {Report6(3, 0, kId, kSeq, k6Router), {}, ""}, {With(Report6(3, 0), 14, 6), {}, ""}, {With(Report6(3, 0), 8, 0x45), {}, ""},
    };
    FakeEchoProbe fake;
    for (const auto& [bytes, status, name] : cases) {
        const bool v6 = (bytes[0] & 0xC0) != 0x40;
        const IpAddress target = v6 ? k6Target : kTarget, from = status == Reply ? target : v6 ? k6Router : kRouter;
        const auto a = v6 ? ParseRawIcmp6Answer(bytes, from, status == Reply ? 61 : 64, target, kId, kSeq)
                          : ParseRawIcmpAnswer(bytes, kTarget.V4(), kId, kSeq);
        EXPECT_EQ(a ? std::optional(std::tuple(a->status, a->from, a->ttl)) : std::nullopt,
                  status ? std::optional(std::tuple(*status, from, std::uint8_t(status == Reply ? 61 : 64))) : std::nullopt)
            << testing::PrintToString(bytes);
        fake.answer = [&a](auto&) { return *a; };
        EXPECT_STREQ(a ? IcmpStatusName(SendEcho(fake, kTarget, 1, 0, nullptr).status) : "", name);
    }
    const Bytes good = Report(11, 0), good6 = Report6(3, 0);
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(ParseRawIcmpAnswer({good.data(), n}, kTarget.V4(), kId, kSeq) || ParseRawIcmp6Answer({good6.data(), n}, k6Router, 64, k6Target, kId, kSeq)) << n;

    const Bytes reply = Icmp(0, 0, 999) + Bytes(32, 0);  // a datagram socket's: the kernel's identifier
    EXPECT_TRUE(IsDatagramEchoReply(reply, kSeq));
    for (const auto& [other, seq] : {std::pair(reply, kSeq + 1), {Icmp(8, 0, 999), kSeq}, {Bytes(&reply[0], &reply[7]), kSeq}})
        EXPECT_FALSE(IsDatagramEchoReply(other, std::uint16_t(seq)));
}


TEST(EchoTest, SendEchoPingHostTraceAndNames)
{
    const struct { int ttl; std::uint32_t timeout; EchoAnswer answer; int sentTtl, sentTimeout; EchoResult want; } cases[] = {
        {0, 0, {Reply, kTarget, 7}, 255, 3000, {kTarget, 0, 7}},                       // 0 means 255 and 3000 ms
        {256, 2000, {TtlExpiredTransit, kRouter, 3}, 255, 2000, {kRouter, 11013, 3}},  // a router's report answers
        {0x1107, 1, {TimedOut}, 7, 1, {{}, 11010, -1}},
        {1, 0, {NetUnreachable}, 1, 3000, {{}, 11002, -1}},  // the local route: no answer, yet its status
        {1, 0, {Failed}, 1, 3000, {{}, 11050, -1}},
    };
    FakeEchoProbe fake;
    Bytes data;
    for (const auto& c : cases) {
        fake.answer = [&](auto& e) { return data.assign(e.data.begin(), e.data.end()), c.answer; };
        const auto due = std::chrono::steady_clock::now() + milliseconds(c.sentTimeout);
        const EchoResult r = SendEcho(fake, kTarget, c.ttl, c.timeout, nullptr);
        const auto& e = fake.sent.back();
        EXPECT_EQ(std::tuple(r.address, r.status, r.roundTripMs, e.destination, e.ttl, data,
                             e.deadline >= due && e.deadline <= due + milliseconds(500)),
                  std::tuple(c.want.address, c.want.status, c.want.roundTripMs, kTarget, c.sentTtl, Bytes(32, 0x45), true))
            << c.ttl;
    }
    fake.answer = [](auto& e) { return EchoAnswer{e.destination == kTarget ? Reply : HostUnreachable, kRouter, 3}; };
    EXPECT_EQ(std::pair(PingHost(fake, kTarget, nullptr), PingHost(fake, kRouter, nullptr)), std::pair(3, -1));  // a report: none
    EXPECT_EQ(fake.sent.back().ttl, 128);

    // a trace ends after 254 hops, or at a cancel
    CancelToken token;
    fake.sent.clear();
    fake.answer = [](auto&) { return EchoAnswer{HostUnreachable, IpAddress::V4(0xFFFFFFFF), 123456}; };
    std::string out;
    RunTrace("10.0.0.9", [&](std::string_view s) { out += s; }, fake, nullptr);
    EXPECT_EQ(fake.sent.size(), 254u);
    EXPECT_TRUE(out.ends_with("\r\n254  255.255.255.255  123456  DEST_HOST_UNREACHABLE\r\n\r\nTrace Complete")) << out;

    fake.answer = [&](auto& e) { return e.ttl == 2 ? token.Cancel() : void(), EchoAnswer{TtlExpiredTransit, kRouter, 0}; };
    RunTrace("10.0.0.9", [](std::string_view) {}, fake, &token);
    EXPECT_EQ(fake.sent.size(), 256u) << "no echo after the cancel";

    fake.answer = [](auto& e) { return e.ttl == 1 ? EchoAnswer{TtlExpiredTransit, *ParseIpLiteral("2001:db8:1234:5678::1"), 5} : EchoAnswer{}; };
    RunTrace("2001:db8::9", [&](std::string_view s) { out += s; }, fake, nullptr);  // a long hop widens its line, a silent one is ::
    EXPECT_TRUE(out.ends_with("---\r\n1    2001:db8:1234:5678::1  5      TTL_EXPIRED_TRANSIT\r\n2    ::               -1     GENERAL_FAILURE\r\n\r\nTrace Complete")) << out;
}

// The three requests and nothing else; the replies and the echo session's records.
TEST(NetcapRequestTest, RequestsRepliesAndEchoSessionRecords)
{
    for (auto [text, kind] : {std::pair("echo\n", NetcapKind::Echo), {"kill 127.0.0.1 40000 10.1.2.3 25\n", NetcapKind::KillTcp},
                              {"capture abcdefghijklmno 2 1 65535\n", NetcapKind::Capture}}) {  // 15 characters
        const auto request = ParseNetcapRequest(text);
        EXPECT_EQ(request ? std::pair(request->kind, FormatNetcapRequest(*request)) : std::pair(NetcapKind{}, ""),
                  std::pair(kind, std::string(text)));
    }

    // a 16-character interface name; a port that wraps to 80 in 32 bits
    for (const char* text : {"", "echo", "echo \n", "echo extra\n", "ECHO\n", "capture eth0 0 0\n", "capture  eth0 0 0 80\n",
                             "capture abcdefghijklmnop 0 0 80\n", "capture a/b 0 0 80\n", "capture a:1 0 0 80\n",
                             "capture . 0 0 80\n", "capture .. 0 0 80\n", "capture e\tth 0 0 80\n",
                             "capture \xc3\xa9th 0 0 80\n", "capture eth0 3 0 80\n", "capture eth0 0 3 80\n",
                             "capture eth0 0 0 0\n", "capture eth0 0 0 65536\n", "capture eth0 0 0 080\n",
                             "capture eth0 0 0 4294967376\n", "kill 127.0.0.1 40000 10.1.2.3\n",
                             "kill 127.0.0.1 0 10.1.2.3 25\n", "kill 127.0.0.1 40 10.1.2.3 0\n",
                             "kill 127.0.0.1 +40 10.1.2.3 25\n", "kill 127.0.0.256 40 10.1.2.3 25\n",
                             "kill 127.0.0 40 10.1.2.3 25\n", "kill 127.0.0.1.5 40 10.1.2.3 25\n",
                             "kill 127..0.1 40 10.1.2.3 25\n", "kill 127.0.0.4294967297 40 10.1.2.3 25\n"})
        EXPECT_FALSE(ParseNetcapRequest(text)) << '"' << text << '"';

    EXPECT_EQ(std::tuple(ParseNetcapReply("ok\n"), ParseNetcapReply(FormatNetcapReply(19)), FormatNetcapReply(0)),
              std::tuple(0, 19, "ok\n"));
    for (const char* text : {"ok", "error 0\n", "error\n", "error 01\n", "error 5000\n", "ok\nx"})
        EXPECT_FALSE(ParseNetcapReply(text)) << text;

    // IPv4 and IPv6 with its zone; each field out of range alone (ttl 0, no time-out, too long, reserved bits, too much
    // data; no address, ::, multicast, IPv4 with a scope, family 3, IPv4 with a byte behind it); ask adds bits to to's fields
    auto ask = [](NetcapEchoAsk a, const IpAddress& to, std::uint32_t scope = 0, std::uint8_t family = 0, std::uint8_t last = 0) {
        return SetNetcapEchoAskDestination(a, to), a.scope |= scope, a.family |= family, a.destination[15] |= last, a; };
    const NetcapEchoAsk good{.serial = 7, .timeoutMs = 4000, .ttl = 3};
    Bytes data;
    for (const IpAddress& to : {kTarget, *ParseIpLiteral("fe80::1%1")}) {
        const Bytes message = FormatNetcapEchoAsk(ask(good, to), "abc", 3);
        const auto parsed = ParseNetcapEchoAsk(message.data(), message.size(), data).value_or(NetcapEchoAsk{});
        EXPECT_EQ(std::tuple(parsed.serial, NetcapEchoAskDestination(parsed), parsed.timeoutMs, parsed.ttl, data), std::tuple(7u, to, 4000u, 3, Bytes{'a', 'b', 'c'}));
        EXPECT_FALSE(ParseNetcapEchoAsk(message.data(), sizeof(NetcapEchoAsk) - 1, data));  // short
    }
    for (const auto& [bad, size] : {std::pair(ask({.timeoutMs = 4000, .ttl = 0}, kTarget), 0ul), {ask({.timeoutMs = 0, .ttl = 3}, kTarget), 0},
                                    {ask({.timeoutMs = kNetcapMaxEchoTimeoutMs + 1, .ttl = 3}, kTarget), 0},
                                    {ask({.timeoutMs = 4000, .ttl = 3, .reserved = {0, 1}}, kTarget), 0}, {ask(good, kTarget), kNetcapMaxEchoData + 1},
                                    {ask(good, {}), 0}, {ask(good, *ParseIpLiteral("::")), 0}, {ask(good, *ParseIpLiteral("ff02::1")), 0},
                                    {ask(good, kTarget, 1), 0}, {ask(good, kTarget, 0, 1), 0}, {ask(good, kTarget, 0, 0, 1), 0}}) {
        const Bytes bytes = FormatNetcapEchoAsk(bad, Bytes(size).data(), size);
        EXPECT_FALSE(ParseNetcapEchoAsk(bytes.data(), bytes.size(), data)) << bad.timeoutMs << ' ' << size;
    }
    // records written, data carried, accepted: a failed echo carries no data
    for (auto [replied, size, accepted] : {std::tuple{1u, 2u, true}, {0u, 2u, false}, {2u, 0u, false}}) {
        const auto reply = FormatNetcapEchoAnswer({.serial = 7, .replied = replied, .ttl = 64}, "xy", size);
        EXPECT_EQ(ParseNetcapEchoAnswer(reply.data(), reply.size(), data).has_value(), accepted) << replied;
        EXPECT_TRUE(!accepted || data == Bytes({'x', 'y'}));
    }
}
