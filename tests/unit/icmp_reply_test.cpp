// Matching received ICMP datagrams to the echo that was sent.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "platform/IcmpEchoSocket.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kUs{10, 200, 1, 2}, kRouter{10, 200, 1, 1}, kTarget{10, 200, 3, 2};
constexpr std::uint16_t kId = 0x1234, kSeq = 0x0102;

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

std::uint32_t Addr(const Bytes& b)
{
    std::uint32_t v;
    std::memcpy(&v, b.data(), 4);
    return v;
}

// A router's report quoting an echo of ours.
Bytes Report(std::uint8_t type, std::uint8_t code, std::uint16_t id = kId, std::uint16_t seq = kSeq,
             const Bytes& quotedDst = kTarget)
{
    return IpHeader(kRouter, kUs) + Icmp(type, code, 0, 0) + IpHeader(kUs, quotedDst, 1) + Icmp(8, 0, id, seq);
}

bool Parse(const Bytes& b, IcmpAnswer* a)
{
    return ParseRawIcmpAnswer(b.data(), b.size(), Addr(kTarget), kId, kSeq, a);
}

}  // namespace

TEST(RawAnswerTest, EchoReplyOrReportOfOurEchoAlone)
{
    IcmpAnswer a;
    ASSERT_TRUE(Parse(IpHeader(kTarget, kUs, 61) + Icmp(0, 0, kId, kSeq, 32), &a));
    EXPECT_EQ(std::tuple(a.from, a.status, a.ttl, a.dataOffset, a.dataSize),
              std::tuple(Addr(kTarget), 0u, std::uint8_t(61), std::size_t(28), std::size_t(32)));

    for (auto [type, code, status] : {std::tuple(11, 0, 11013u), std::tuple(11, 1, 11014u), std::tuple(3, 0, 11002u),
                                      std::tuple(3, 3, 11005u), std::tuple(3, 13, 11003u), std::tuple(12, 0, 11015u)}) {
        ASSERT_TRUE(Parse(Report(type, code), &a)) << type << '/' << code;
        EXPECT_EQ(std::tuple(a.from, a.status), std::tuple(Addr(kRouter), status));
    }

    const Bytes others[] = {
        IpHeader(kTarget, kUs) + Icmp(0, 0, kId + 1, kSeq),          // another program's reply
        IpHeader(kTarget, kUs) + Icmp(0, 0, kId, kSeq + 1),          // another echo of ours
        IpHeader(kUs, kTarget) + Icmp(8, 0, kId, kSeq),              // our own request, on loopback
        IpHeader(kTarget, kUs, 64, 6) + Icmp(0, 0, kId, kSeq),       // not ICMP
        Report(11, 0, kId + 1), Report(11, 0, kId, kSeq + 1),        // reports on others' echoes
        Report(11, 0, kId, kSeq, kRouter),                           // on an echo to elsewhere
        Report(5, 0),                                                // a redirect answers nothing
    };
    for (const Bytes& other : others)
        EXPECT_FALSE(Parse(other, &a)) << &other - others;
}

TEST(RawAnswerTest, ShortOrMalformedDatagramsAreNoAnswer)
{
    IcmpAnswer a;
    const Bytes good = Report(11, 0);
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(ParseRawIcmpAnswer(good.data(), n, Addr(kTarget), kId, kSeq, &a)) << n;
    // a header longer than the datagram, IPv6, a quoted header shorter than 20
    for (auto [at, value] : {std::pair(0, 0x4F), std::pair(0, 0x65), std::pair(28, 0x44)}) {
        Bytes bad = good;
        bad[at] = std::uint8_t(value);
        EXPECT_FALSE(Parse(bad, &a)) << value;
    }
    EXPECT_FALSE(ParseRawIcmpAnswer(nullptr, 0, 0, 0, 0, &a));
}

TEST(DatagramAnswerTest, EchoReplyBySequence)
{
    IcmpAnswer a;
    const Bytes reply = Icmp(0, 0, 999, kSeq, 32), request = Icmp(8, 0, 999, kSeq);  // the kernel's identifier
    ASSERT_TRUE(ParseDatagramEchoReply(reply.data(), reply.size(), kSeq, &a));
    EXPECT_EQ(std::tuple(a.status, a.dataOffset, a.dataSize), std::tuple(0u, std::size_t(8), std::size_t(32)));
    EXPECT_FALSE(ParseDatagramEchoReply(reply.data(), reply.size(), kSeq + 1, &a));
    EXPECT_FALSE(ParseDatagramEchoReply(reply.data(), 7, kSeq, &a));
    EXPECT_FALSE(ParseDatagramEchoReply(request.data(), request.size(), kSeq, &a));
}
