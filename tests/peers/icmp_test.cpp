// Ping and Traceroute pages against two routers and a target in network
// namespaces the test builds (scripts/netns-topology.sh), through both of the
// echo probe's sockets, beside Debian's traceroute:
//   h(10.200.1.2) -- r1(10.200.1.1|10.200.2.1) -- r2(10.200.2.2|10.200.3.1) -- t(10.200.3.2)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/EchoPageTest.h"

namespace {

using Strings = std::vector<std::string>;

constexpr const char* kTarget = "10.200.3.2";
const std::string kPrefix = "qx" + std::to_string(getpid()) + "-";

bool Topology(const std::string& args)
{
    return std::system((QUORLIX_SOURCE_DIR "/scripts/netns-topology.sh " + kPrefix + " " + args).c_str()) == 0;
}

// The pane with each round trip but -1 written as "#" and its padding as 6 blanks.
std::string WithoutRoundTrips(const std::string& pane)
{
    static const std::regex roundTrip(R"((\n\d+ +\S+ +)\d+ +)");
    return std::regex_replace(pane, roundTrip, "$1#      ");
}

// The hops of a trace, "ttl address" a line and "*" for silence: from the
// pane, or from Debian's traceroute to the target from h.
std::string PaneHops(const std::string& pane)
{
    static const std::regex hop(R"(\n(\d+) +(\S+) +-?\d+ +\S+\r)");
    std::string hops;
    for (std::sregex_iterator it(pane.begin(), pane.end(), hop), end; it != end; ++it)
        hops += (*it)[1].str() + ' ' + ((*it)[2] == "0.0.0.0" ? "*" : (*it)[2].str()) + '\n';
    return hops;
}

std::string DebianHops()
{
    FILE* out = popen(("ip netns exec " + kPrefix + "h traceroute -I -n -q 1 -w 2 " + kTarget).c_str(), "r");
    static const std::regex hop(R"(^ *(\d+) +(\S+))");
    std::string hops;
    char line[256];
    std::cmatch m;
    while (out && std::fgets(line, sizeof line, out))
        if (std::regex_search(line, m, hop))
            hops += m[1].str() + ' ' + m[2].str() + '\n';
    if (out)
        pclose(out);
    return hops;
}

// Each test runs in h (the workers it starts too), and puts back what it changed.
class IcmpTopologyTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0)
            return;
        home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        up_ = Topology("up");
        hostNs_ = open(("/run/netns/" + kPrefix + "h").c_str(), O_RDONLY | O_CLOEXEC);
    }
    static void TearDownTestSuite()
    {
        if (geteuid() == 0)
            Topology("down");
        close(hostNs_);
        close(home_);
    }
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: builds network namespaces";
        ASSERT_TRUE(up_);
        ASSERT_EQ(setns(hostNs_, CLONE_NEWNET), 0);
    }
    void TearDown() override
    {
        if (geteuid() != 0)
            return;
        setns(home_, CLONE_NEWNET);
        for (const char* undo : {"unsilence r1", "unsilence r2", "unmute-target", "dgram on"})
            Topology(std::string(undo) + " 2>/dev/null");
    }

    static inline bool up_ = false;
    static inline int home_ = -1;
    static inline int hostNs_ = -1;
};

const std::string kThreeHops = "1    10.200.1.1       #      TTL_EXPIRED_TRANSIT\r\n"
                                "2    10.200.2.2       #      TTL_EXPIRED_TRANSIT\r\n"
                                "3    10.200.3.2       #      SUCCESS\r\n";

// Each row's steps change the topology from the one before. The whole trace
// through either socket is PingAndTracerouteAtOnceEachGetTheirOwnAnswers'.
TEST_F(IcmpTopologyTest, TraceGoesOnOrStopsAsTheHopsAnswer)
{
    // r1 answers every echo towards 10.200.9.0/24 with net-unreachable: a
    // reply with a non-zero status each time, so the trace runs to 254.
    std::string unreachable;
    for (int ttl = 1; ttl <= 254; ++ttl) {
        std::string column = std::to_string(ttl);
        column.resize(5, ' ');
        unreachable += column + "10.200.1.1       #      DEST_NET_UNREACHABLE\r\n";
    }
    const struct {
        Strings steps;
        const char* host;
        std::string hops;
        bool asDebian;  // Debian's traceroute lists the same hops (it goes on after a silent hop, we may not)
    } cases[] = {
        {{"dgram off"}, kTarget, kThreeHops, true},
        {{"silence r2"}, kTarget,  // the trace ends at a silent router
         "1    10.200.1.1       #      TTL_EXPIRED_TRANSIT\r\n"
         "2    0.0.0.0          -1     REQ_TIMED_OUT\r\n",
         false},
        {{"unsilence r2", "silence r1"}, kTarget,  // a silent first hop is stepped over
         "1    0.0.0.0          -1     REQ_TIMED_OUT\r\n"
         "2    10.200.2.2       #      TTL_EXPIRED_TRANSIT\r\n"
         "3    10.200.3.2       #      SUCCESS\r\n",
         true},
        {{"unsilence r1"}, "10.200.9.1", unreachable, false},
    };
    for (const auto& c : cases) {
        for (const std::string& step : c.steps)
            ASSERT_TRUE(Topology(step));
        TracePage page;
        const std::string pane = Query(&page, c.host, 60000);
        EXPECT_EQ(WithoutRoundTrips(pane), TraceHead(c.host) + c.hops + "\r\nTrace Complete") << c.steps.front();
        if (c.asDebian) {
            EXPECT_EQ(PaneHops(pane), DebianHops()) << c.steps.front();
        }
    }
}

TEST_F(IcmpTopologyTest, PingTexts)
{
    ASSERT_TRUE(Topology("dgram off"));  // a raw socket, that sees its own echo request on loopback
    PingPage page;
    for (const char* host : {kTarget, "127.0.0.1"}) {
        const std::string pane = Query(&page, host);
        EXPECT_TRUE(IsPingAnswer(pane, host)) << pane;
    }
    EXPECT_EQ(Query(&page, "1abc"), PingHead("1abc", "255.255.255.255") + "\tPing Failed!");
    // r1 reports 10.200.9.0/24 unreachable: a reply, yet no answer of the host.
    EXPECT_EQ(Query(&page, "10.200.9.1"), PingHead("10.200.9.1", "10.200.9.1") + "\tPing Failed!");
    // Resolving from h reaches no name server: r1 answers unreachable.
    EXPECT_EQ(Query(&page, "no-such-host.invalid"),
              "\tResolving Address For no-such-host.invalid...\r\n\tInvalid Address!\r\n\tPing Failed!");

    ASSERT_TRUE(Topology("mute-target"));
    EXPECT_EQ(Query(&page, kTarget), PingHead(kTarget, kTarget) + "\tPing Failed!");
}

TEST_F(IcmpTopologyTest, PingAndTracerouteAtOnceEachGetTheirOwnAnswers)
{
    // Raw sockets see every ICMP packet of the namespace, so the pages'
    // echoes must be told apart by identifier and sequence.
    for (const char* way : {"dgram off", "dgram on"}) {
        ASSERT_TRUE(Topology(way));
        PingPage ping, ping2;
        TracePage trace;
        for (int round = 0; round < 3; ++round) {
            StartQuery(&trace, kTarget);
            StartQuery(&ping, kTarget);
            StartQuery(&ping2, "10.200.2.2");
            for (EchoToolPage* p : std::initializer_list<EchoToolPage*>{&trace, &ping, &ping2})
                ASSERT_TRUE(WaitForCaption(QueryButton(p), QStringLiteral("QUERY"), 20000));
            EXPECT_EQ(WithoutRoundTrips(PaneText(&trace)), TraceHead(kTarget) + kThreeHops + "\r\nTrace Complete")
                << way;
            EXPECT_TRUE(IsPingAnswer(PaneText(&ping), kTarget)) << PaneText(&ping);
            EXPECT_TRUE(IsPingAnswer(PaneText(&ping2), "10.200.2.2")) << PaneText(&ping2);
        }
    }
}

}  // namespace
