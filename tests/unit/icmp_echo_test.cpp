// SendEcho, PingHost, IcmpStatusName and the Ping and Traceroute texts, on a
// fake echo library bound through LoadIcmpLibrary.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "icmp/EchoReports.h"
#include "icmp/IcmpEcho.h"
#include "platform/CancelToken.h"
#include "platform/IcmpLibrary.h"

namespace {

// What the fake's send writes and returns for one echo.
struct FakeAnswer {
    std::uint32_t records = 1;
    std::uint32_t address = 0;
    std::uint32_t status = 0;
    std::uint32_t roundTrip = 0;
    bool write = true;  // false: leave the buffer as it was
};

struct SentEcho {
    std::uint32_t destination;
    int ttl;
    std::uint32_t timeout;
    std::vector<std::uint8_t> data;
    std::uint32_t replySize;
    bool bufferWasZero;
};

struct Fake {
    bool createFails = false;
    int opened = 0;
    int closed = 0;
    std::vector<SentEcho> sent;
    std::function<FakeAnswer(const SentEcho&)> answer = [](const SentEcho&) { return FakeAnswer{}; };
} g_fake;

IcmpHandle FakeCreate()
{
    if (g_fake.createFails)
        return kInvalidIcmpHandle;
    return ++g_fake.opened;
}

int FakeClose(IcmpHandle)
{
    ++g_fake.closed;
    return 1;
}

std::uint32_t FakeSend(IcmpHandle, std::uint32_t destination, const void* data, std::uint16_t size,
                       const IpOptionInformation* options, void* reply, std::uint32_t replySize, std::uint32_t timeout)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const auto* out = static_cast<const std::uint8_t*>(reply);
    SentEcho echo{destination, options->Ttl, timeout, {bytes, bytes + size}, replySize, true};
    for (std::uint32_t i = 0; i < replySize; ++i)
        echo.bufferWasZero = echo.bufferWasZero && out[i] == 0;
    g_fake.sent.push_back(echo);
    FakeAnswer a = g_fake.answer(echo);
    if (a.write) {
        IcmpEchoReply record{};
        record.Address = a.address;
        record.Status = a.status;
        record.RoundTripTime = a.roundTrip;
        std::memcpy(reply, &record, sizeof record);
    }
    return a.records;
}

const void* FakeOpen()
{
    static const char library = 0;
    return &library;
}

void* FakeLookup(const void*, const char* name)
{
    if (!std::strcmp(name, "IcmpCreateFile"))
        return reinterpret_cast<void*>(&FakeCreate);
    if (!std::strcmp(name, "IcmpCloseHandle"))
        return reinterpret_cast<void*>(&FakeClose);
    if (!std::strcmp(name, "IcmpSendEcho"))
        return reinterpret_cast<void*>(&FakeSend);
    return nullptr;
}

const IcmpProvider kFakeProvider{&FakeOpen, &FakeLookup, nullptr};

std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

class EchoTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_fake = Fake{};
        ASSERT_EQ(LoadIcmpLibrary(kFakeProvider), 1);
    }
    void TearDown() override { FreeIcmpLibrary(); }

    static std::string Trace(const std::string& host, const CancelToken* token = nullptr)
    {
        std::string out;
        RunTrace(host, [&](std::string_view s) { out += s; }, token);
        return out;
    }
    static std::string Ping(const std::string& host)
    {
        std::string out;
        RunPing(host, [&](std::string_view s) { out += s; });
        return out;
    }
};

const std::string kTraceHead =
    "\tResolving Address For 10.0.0.9...\r\n\t[10.0.0.9]\r\n\r\nBegining Trace...\r\n\r\n"
    "TTL  Host             Ms     Status\r\n-----------------------------------\r\n";

}  // namespace

TEST_F(EchoTest, SendsOneEchoOf32BytesWithTtlAndTimeoutRules)
{
    EchoResult r{};
    g_fake.answer = [](const SentEcho&) { return FakeAnswer{1, Ip(10, 0, 0, 9), 0, 7}; };
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 0, 0, &r), 1);
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 256, 2000, &r), 1);
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 0x1107, 1, &r), 1);
    ASSERT_EQ(g_fake.sent.size(), 3u);
    EXPECT_EQ(g_fake.sent[0].ttl, 255);  // 0 goes out as 255
    EXPECT_EQ(g_fake.sent[1].ttl, 255);  // so does 256
    EXPECT_EQ(g_fake.sent[2].ttl, 7);    // low 8 bits only
    EXPECT_EQ(g_fake.sent[0].timeout, 3000u);
    EXPECT_EQ(g_fake.sent[1].timeout, 2000u);
    for (const auto& e : g_fake.sent) {
        EXPECT_EQ(e.destination, Ip(10, 0, 0, 9));
        EXPECT_EQ(e.data, std::vector<std::uint8_t>(32, 0x45));
        EXPECT_EQ(e.replySize, 2000u);
        EXPECT_TRUE(e.bufferWasZero);
    }
    EXPECT_EQ(r.address, Ip(10, 0, 0, 9));
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.roundTripMs, 7);
    EXPECT_EQ(g_fake.opened, 3);
    EXPECT_EQ(g_fake.closed, 3);  // one handle per echo
}

TEST_F(EchoTest, AnythingButOneRecordIsAFailureThatKeepsTheRecord)
{
    EchoResult r{};
    g_fake.answer = [](const SentEcho&) { return FakeAnswer{0, Ip(1, 2, 3, 4), 11010, 55}; };
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 1, 0, &r), 0);
    EXPECT_EQ(r.address, Ip(1, 2, 3, 4));
    EXPECT_EQ(r.status, 11010u);
    EXPECT_EQ(r.roundTripMs, -1);

    g_fake.answer = [](const SentEcho&) { return FakeAnswer{2, Ip(1, 2, 3, 4), 0, 5}; };
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 1, 0, &r), 0);
    EXPECT_EQ(r.roundTripMs, -1);

    // Nothing written: the zero-filled buffer reads address 0 and status 0.
    g_fake.answer = [](const SentEcho&) { return FakeAnswer{0, 0, 0, 0, false}; };
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 1, 0, &r), 0);
    EXPECT_EQ(r.address, 0u);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.roundTripMs, -1);

    // A router's report is one record: a success with a non-zero status.
    g_fake.answer = [](const SentEcho&) { return FakeAnswer{1, Ip(10, 0, 0, 1), 11013, 3}; };
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 1, 0, &r), 1);
    EXPECT_EQ(r.status, 11013u);
    EXPECT_EQ(PingHost(Ip(10, 0, 0, 9)), 3);
    EXPECT_EQ(g_fake.sent.back().ttl, 128);
    EXPECT_EQ(g_fake.sent.back().timeout, 3000u);
}

TEST_F(EchoTest, NullResultSendsNothing)
{
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 1, 0, nullptr), 0);
    EXPECT_TRUE(g_fake.sent.empty());
    EXPECT_EQ(g_fake.opened, 0);
}

TEST_F(EchoTest, RefusedOrMissingLibraryGivesGeneralFailure)
{
    EchoResult r{1, 1, 1};
    g_fake.createFails = true;
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 1, 0, &r), 0);
    EXPECT_EQ(r.address, 0u);
    EXPECT_EQ(r.status, 11050u);
    EXPECT_EQ(r.roundTripMs, -1);
    EXPECT_TRUE(g_fake.sent.empty());

    FreeIcmpLibrary();
    r = EchoResult{1, 1, 1};
    EXPECT_EQ(SendEcho(Ip(10, 0, 0, 9), 1, 0, &r), 0);
    EXPECT_EQ(r.status, 11050u);
    EXPECT_EQ(PingHost(Ip(10, 0, 0, 9)), -1);
    // With the library missing, hops 1 and 2 fail and the trace ends.
    EXPECT_EQ(Trace("10.0.0.9"), kTraceHead +
                                     "1    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                     "2    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                     "\r\nTrace Complete");
}

TEST(IcmpStatusNameTest, NamesTruncationAndCatchAll)
{
    char buffer[200];
    IcmpStatusName(11255, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "PENDING");
    IcmpStatusName(11024, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Status Unknown");
    IcmpStatusName(11050, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "GENERAL_FAILURE");
    IcmpStatusName(11013, buffer, 8);
    EXPECT_STREQ(buffer, "TTL_EXP");
    IcmpStatusName(0, buffer, 8);  // exactly fits: 7 characters and the terminator
    EXPECT_STREQ(buffer, "SUCCESS");
    IcmpStatusName(0, buffer, 1);
    EXPECT_STREQ(buffer, "");
    buffer[0] = 'x';
    IcmpStatusName(0, buffer, 0);  // nothing written at all
    EXPECT_EQ(buffer[0], 'x');
    IcmpStatusName(0, nullptr, 10);
}

TEST(HopLineTest, ColumnsPadButNeverCut)
{
    EXPECT_EQ(FormatHopLine(1, "10.200.1.1", 0, "TTL_EXPIRED_TRANSIT"),
              "1    10.200.1.1       0      TTL_EXPIRED_TRANSIT\r\n");
    EXPECT_EQ(FormatHopLine(254, "255.255.255.255", -1, "REQ_TIMED_OUT"),
              "254  255.255.255.255  -1     REQ_TIMED_OUT\r\n");
    EXPECT_EQ(FormatHopLine(12, "1.2.3.4", 123456, "SUCCESS"), "12   1.2.3.4          123456  SUCCESS\r\n");
}

TEST(StopRuleTest, Table)
{
    EXPECT_FALSE(TraceGoesOn(1, 1, 0));        // the destination answered
    EXPECT_FALSE(TraceGoesOn(200, 1, 0));
    EXPECT_TRUE(TraceGoesOn(1, 1, 11013));     // a router's report
    EXPECT_TRUE(TraceGoesOn(253, 1, 11003));   // an unreachable report goes on too
    EXPECT_TRUE(TraceGoesOn(1, 0, 11010));     // a silent first hop is stepped over
    EXPECT_TRUE(TraceGoesOn(1, 0, 0));
    EXPECT_FALSE(TraceGoesOn(2, 0, 11010));    // a later silent hop ends it
    EXPECT_FALSE(TraceGoesOn(254, 1, 11013));  // the last time-to-live
    EXPECT_FALSE(TraceGoesOn(254, 0, 11010));
}

TEST_F(EchoTest, TraceOfRoutersThenTarget)
{
    g_fake.answer = [](const SentEcho& e) {
        if (e.ttl < 3)
            return FakeAnswer{1, Ip(10, 0, std::uint8_t(e.ttl), 1), 11013, std::uint32_t(e.ttl)};
        return FakeAnswer{1, Ip(10, 0, 0, 9), 0, 4};
    };
    EXPECT_EQ(Trace("10.0.0.9"), kTraceHead +
                                     "1    10.0.1.1         1      TTL_EXPIRED_TRANSIT\r\n"
                                     "2    10.0.2.1         2      TTL_EXPIRED_TRANSIT\r\n"
                                     "3    10.0.0.9         4      SUCCESS\r\n"
                                     "\r\nTrace Complete");
    for (const auto& e : g_fake.sent)
        EXPECT_EQ(e.timeout, 2000u);
}

TEST_F(EchoTest, TraceStepsOverASilentFirstHopAndStopsAtTheNext)
{
    g_fake.answer = [](const SentEcho& e) {
        if (e.ttl == 1 || e.ttl == 3)
            return FakeAnswer{0, 0, 11010, 0};
        return FakeAnswer{1, Ip(10, 0, 2, 1), 11013, 1};
    };
    EXPECT_EQ(Trace("10.0.0.9"), kTraceHead +
                                     "1    0.0.0.0          -1     REQ_TIMED_OUT\r\n"
                                     "2    10.0.2.1         1      TTL_EXPIRED_TRANSIT\r\n"
                                     "3    0.0.0.0          -1     REQ_TIMED_OUT\r\n"
                                     "\r\nTrace Complete");
}

TEST_F(EchoTest, TraceEndsAfter254HopsWhenEveryRouterAnswers)
{
    g_fake.answer = [](const SentEcho&) { return FakeAnswer{1, Ip(10, 0, 0, 1), 11003, 0}; };
    std::string out = Trace("10.0.0.9");
    EXPECT_EQ(g_fake.sent.size(), 254u);
    EXPECT_EQ(g_fake.sent.back().ttl, 254);
    std::string last = "254  10.0.0.1         0      DEST_HOST_UNREACHABLE\r\n\r\nTrace Complete";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
}

TEST_F(EchoTest, CancelledTraceSendsNoFurtherEcho)
{
    CancelToken token;
    g_fake.answer = [&token](const SentEcho& e) {
        if (e.ttl == 2)
            token.Cancel();
        return FakeAnswer{1, Ip(10, 0, 0, 1), 11013, 0};
    };
    Trace("10.0.0.9", &token);
    EXPECT_EQ(g_fake.sent.size(), 2u);
}

TEST_F(EchoTest, PingTexts)
{
    g_fake.answer = [](const SentEcho&) { return FakeAnswer{1, Ip(10, 0, 0, 1), 0, 12}; };
    EXPECT_EQ(Ping("10.0.0.1"),
              "\tResolving Address For 10.0.0.1...\r\n\t[10.0.0.1]\r\n\r\n\tPinging Host: [10.0.0.1]...\r\n"
              "\t12 Milliseconds");
    // A text that starts with a digit but is no address is all ones, and pinged.
    g_fake.answer = [](const SentEcho&) { return FakeAnswer{0, 0, 11010, 0}; };
    EXPECT_EQ(Ping("1abc"),
              "\tResolving Address For 1abc...\r\n\t[255.255.255.255]\r\n\r\n"
              "\tPinging Host: [255.255.255.255]...\r\n\tPing Failed!");
    EXPECT_EQ(g_fake.sent.back().destination, 0xFFFFFFFFu);
}
