// SendEcho, PingHost, IcmpStatusName and the trace's text and stop rule, on a
// fake echo library.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "icmp/EchoReports.h"
#include "icmp/IcmpEcho.h"
#include "os/CancelToken.h"
#include "support/FakeEchoLibrary.h"

namespace {

using Answer = FakeEchoLibrary::Answer;
using Echo = FakeEchoLibrary::Echo;

const std::uint32_t kTarget = inet_addr("10.0.0.9"), kRouter = inet_addr("10.0.0.1");

auto Fields(const EchoResult& r)
{
    return std::tuple(r.address, r.status, r.roundTripMs);
}

class EchoTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fake_.Loaded()); }

    static std::string Trace(const CancelToken* token = nullptr)
    {
        std::string out;
        RunTrace("10.0.0.9", [&](std::string_view s) { out += s; }, token);
        return out;
    }
    FakeEchoLibrary fake_;
};

}  // namespace

TEST_F(EchoTest, SendEchoRequestAndResult)
{
    struct Case {
        int ttl; std::uint32_t timeout; Answer answer;  // asked, and answered
        int sentTtl; std::uint32_t sentTimeout;         // sent
        int returns; EchoResult want;                   // given back
    };
    const Case cases[] = {
        {0, 0, {1, kTarget, 0, 7}, 255, 3000, 1, {kTarget, 0, 7}},                // 0 means 255 and 3000 ms
        {256, 2000, {1, kRouter, 11013, 3}, 255, 2000, 1, {kRouter, 11013, 3}},  // a router's report is a reply
        {0x1107, 1, {0, kRouter, 11010, 55}, 7, 1, 0, {kRouter, 11010, -1}},      // failed, the record kept
        {1, 0, {2, kRouter, 0, 5}, 1, 3000, 0, {kRouter, 0, -1}},                 // anything but one record fails
        {1, 0, {0, 0, 0, 0, false}, 1, 3000, 0, {0, 0, -1}},                      // nothing written: a zeroed buffer
    };
    for (const Case& c : cases) {
        fake_.answer = [&c](const Echo&) { return c.answer; };
        EchoResult r{9, 9, 9};
        EXPECT_EQ(SendEcho(kTarget, c.ttl, c.timeout, &r), c.returns) << c.ttl;
        EXPECT_EQ(Fields(r), Fields(c.want)) << c.ttl;
        const Echo& e = fake_.sent.back();
        EXPECT_EQ(std::tuple(e.destination, e.ttl, e.timeout), std::tuple(kTarget, c.sentTtl, c.sentTimeout));
        EXPECT_EQ(e.data, std::vector<std::uint8_t>(32, 0x45));
        EXPECT_EQ(e.replySize, 2000u);
    }
    EXPECT_EQ(fake_.opened, 5);
    EXPECT_EQ(fake_.closed, 5);  // one handle an echo

    fake_.answer = [](const Echo&) { return Answer{1, kTarget, 0, 3}; };
    EXPECT_EQ(PingHost(kTarget), 3);
    fake_.answer = [](const Echo&) { return Answer{1, kRouter, 11003, 3}; };
    EXPECT_EQ(PingHost(kTarget), -1);  // a router's report is no answer of the host
    EXPECT_EQ(std::tuple(fake_.sent.back().ttl, fake_.sent.back().timeout), std::tuple(128, 3000u));
}

TEST(IcmpStatusNameTest, NamesCutToTheBuffer)
{
    const std::tuple<std::uint32_t, std::size_t, const char*> cases[] = {
        {11255, 200, "PENDING"}, {11024, 200, "Status Unknown"}, {11050, 200, "GENERAL_FAILURE"},
        {11013, 8, "TTL_EXP"},   {0, 8, "SUCCESS"},              {0, 1, ""},
    };
    char buffer[200];
    for (auto [status, size, want] : cases) {
        IcmpStatusName(status, buffer, size);
        EXPECT_STREQ(buffer, want) << status << " in " << size;
    }
    buffer[0] = 'x';
    IcmpStatusName(0, buffer, 0);
    EXPECT_EQ(buffer[0], 'x');
    IcmpStatusName(0, nullptr, 10);
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

TEST_F(EchoTest, TraceEndsAfter254HopsOrACancel)
{
    fake_.answer = [](const Echo&) { return Answer{1, 0xFFFFFFFF, 11003, 123456}; };
    const std::string out = Trace();
    EXPECT_EQ(fake_.sent.size(), 254u);
    EXPECT_EQ(fake_.sent.back().timeout, 2000u);
    EXPECT_TRUE(out.ends_with("\r\n254  255.255.255.255  123456  DEST_HOST_UNREACHABLE\r\n\r\nTrace Complete")) << out;

    CancelToken token;
    fake_.sent.clear();
    fake_.answer = [&token](const Echo& e) {
        if (e.ttl == 2)
            token.Cancel();
        return Answer{1, kRouter, 11013, 0};
    };
    Trace(&token);
    EXPECT_EQ(fake_.sent.size(), 2u) << "no echo after the cancel";
}
