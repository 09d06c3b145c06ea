// Matching received ICMP datagrams to the echo that was sent.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/IcmpEchoSocket.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes IpHeader(const Bytes& src, const Bytes& dst, std::uint8_t ttl = 64, std::uint8_t protocol = 1)
{
    Bytes h(20, 0);
    h[0] = 0x45;
    h[8] = ttl;
    h[9] = protocol;
    std::copy(src.begin(), src.end(), h.begin() + 12);
    std::copy(dst.begin(), dst.end(), h.begin() + 16);
    return h;
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq, std::size_t dataSize = 0)
{
    Bytes m{type, code, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id), std::uint8_t(seq >> 8), std::uint8_t(seq)};
    m.resize(8 + dataSize, 0x45);
    return m;
}

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::uint32_t Addr(const Bytes& b)
{
    std::uint32_t v;
    std::memcpy(&v, b.data(), 4);
    return v;
}

const Bytes kUs{10, 200, 1, 2}, kRouter{10, 200, 1, 1}, kTarget{10, 200, 3, 2};
constexpr std::uint16_t kId = 0x1234, kSeq = 0x0102;

// A router's report quoting our echo.
Bytes Report(std::uint8_t type, std::uint8_t code, std::uint16_t id = kId, std::uint16_t seq = kSeq,
             const Bytes& quotedDst = kTarget)
{
    return Cat(Cat(IpHeader(kRouter, kUs), Icmp(type, code, 0, 0)),
               Cat(IpHeader(kUs, quotedDst, 1), Icmp(8, 0, id, seq)));
}

bool Parse(const Bytes& b, IcmpAnswer* a)
{
    return ParseRawIcmpAnswer(b.data(), b.size(), Addr(kTarget), kId, kSeq, a);
}

}  // namespace

TEST(RawAnswerTest, EchoReplyOfOurIdentifierAndSequence)
{
    IcmpAnswer a;
    Bytes reply = Cat(IpHeader(kTarget, kUs, 61), Icmp(0, 0, kId, kSeq, 32));
    ASSERT_TRUE(Parse(reply, &a));
    EXPECT_EQ(a.from, Addr(kTarget));
    EXPECT_EQ(a.status, 0u);
    EXPECT_EQ(a.ttl, 61);
    EXPECT_EQ(a.dataOffset, 28u);
    EXPECT_EQ(a.dataSize, 32u);

    EXPECT_FALSE(Parse(Cat(IpHeader(kTarget, kUs), Icmp(0, 0, kId + 1, kSeq)), &a));  // another program's
    EXPECT_FALSE(Parse(Cat(IpHeader(kTarget, kUs), Icmp(0, 0, kId, kSeq + 1)), &a));  // another echo of ours
    EXPECT_FALSE(Parse(Cat(IpHeader(kUs, kTarget), Icmp(8, 0, kId, kSeq)), &a));      // our own request (loopback)
    EXPECT_FALSE(Parse(Cat(IpHeader(kTarget, kUs, 64, 6), Icmp(0, 0, kId, kSeq)), &a));  // not ICMP
}

TEST(RawAnswerTest, ReportsQuotingOurEcho)
{
    IcmpAnswer a;
    ASSERT_TRUE(Parse(Report(11, 0), &a));
    EXPECT_EQ(a.from, Addr(kRouter));
    EXPECT_EQ(a.status, kIpTtlExpiredTransit);
    ASSERT_TRUE(Parse(Report(3, 0), &a));
    EXPECT_EQ(a.status, kIpDestNetUnreachable);
    ASSERT_TRUE(Parse(Report(3, 3), &a));
    EXPECT_EQ(a.status, kIpDestPortUnreachable);

    EXPECT_FALSE(Parse(Report(11, 0, kId + 1), &a));               // another program's echo
    EXPECT_FALSE(Parse(Report(11, 0, kId, kSeq + 1), &a));         // another echo of ours
    EXPECT_FALSE(Parse(Report(11, 0, kId, kSeq, kRouter), &a));    // to another destination
    EXPECT_FALSE(Parse(Report(5, 0), &a));                         // a redirect answers nothing
}

TEST(RawAnswerTest, ShortOrMalformedDatagramsAreNoAnswer)
{
    IcmpAnswer a;
    Bytes good = Report(11, 0);
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(ParseRawIcmpAnswer(good.data(), n, Addr(kTarget), kId, kSeq, &a)) << n;
    Bytes badLength = good;
    badLength[0] = 0x4F;  // a header longer than the datagram
    EXPECT_FALSE(Parse(badLength, &a));
    Bytes ipv6 = good;
    ipv6[0] = 0x65;
    EXPECT_FALSE(Parse(ipv6, &a));
    Bytes quotedShort = good;
    quotedShort[28] = 0x44;  // quoted header length below 20
    EXPECT_FALSE(Parse(quotedShort, &a));
    EXPECT_FALSE(ParseRawIcmpAnswer(nullptr, 0, 0, 0, 0, &a));
}

TEST(DatagramAnswerTest, EchoReplyBySequence)
{
    IcmpAnswer a;
    Bytes reply = Icmp(0, 0, 999, kSeq, 32);  // the kernel chose the identifier
    ASSERT_TRUE(ParseDatagramEchoReply(reply.data(), reply.size(), kSeq, &a));
    EXPECT_EQ(a.status, 0u);
    EXPECT_EQ(a.dataOffset, 8u);
    EXPECT_EQ(a.dataSize, 32u);
    EXPECT_FALSE(ParseDatagramEchoReply(reply.data(), reply.size(), kSeq + 1, &a));
    EXPECT_FALSE(ParseDatagramEchoReply(reply.data(), 7, kSeq, &a));
    Bytes request = Icmp(8, 0, 999, kSeq);
    EXPECT_FALSE(ParseDatagramEchoReply(request.data(), request.size(), kSeq, &a));
}

TEST(StatusMappingTest, ReportsMapToTheEchoStatusCodes)
{
    EXPECT_EQ(StatusOfIcmpReport(11, 0), 11013u);
    EXPECT_EQ(StatusOfIcmpReport(11, 1), 11014u);
    EXPECT_EQ(StatusOfIcmpReport(3, 0), 11002u);
    EXPECT_EQ(StatusOfIcmpReport(3, 1), 11003u);
    EXPECT_EQ(StatusOfIcmpReport(3, 2), 11004u);
    EXPECT_EQ(StatusOfIcmpReport(3, 3), 11005u);
    EXPECT_EQ(StatusOfIcmpReport(3, 4), 11009u);
    EXPECT_EQ(StatusOfIcmpReport(3, 13), 11003u);
    EXPECT_EQ(StatusOfIcmpReport(12, 0), 11015u);
    EXPECT_EQ(StatusOfIcmpReport(4, 0), 11016u);
    EXPECT_EQ(StatusOfIcmpReport(0, 0), 0u);
    EXPECT_EQ(StatusOfIcmpReport(8, 0), 0u);
}
