// Ping and Traceroute pages against two routers and a target in network
// namespaces the test builds (scripts/netns-topology.sh), beside Debian's
// traceroute; the echo component through both of its own sockets:
//   h(10.200.1.2) -- r1(10.200.1.1|10.200.2.1) -- r2(10.200.2.2|10.200.3.1) -- t(10.200.3.2)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/IcmpLibrary.h"
#include "support/EchoPageTest.h"

namespace {

using Strings = std::vector<std::string>;

constexpr const char* kTarget = "10.200.3.2";
const std::string kPrefix = "qx" + std::to_string(getpid()) + "-";

bool Topology(const std::string& args)
{
    return std::system((QUORLIX_SOURCE_DIR "/scripts/netns-topology.sh " + kPrefix + " " + args).c_str()) == 0;
}

// The hop lines of a trace as "ttl address status".
Strings Hops(const std::string& pane)
{
    static const std::regex line(R"((\d+) {2,4}(\S+) +-?\d+ +(\S+)\r\n)");
    Strings hops;
    for (std::sregex_iterator it(pane.begin(), pane.end(), line), end; it != end; ++it)
        hops.push_back((*it)[1].str() + ' ' + (*it)[2].str() + ' ' + (*it)[3].str());
    return hops;
}

// Debian's traceroute to the target from h: "ttl address" a hop, "*" for silence.
Strings DebianTraceroute()
{
    FILE* out = popen(("ip netns exec " + kPrefix + "h traceroute -I -n -q 1 -w 2 " + kTarget).c_str(), "r");
    static const std::regex hop(R"(^\s*(\d+)\s+(\S+))");
    Strings hops;
    char line[256];
    std::cmatch m;
    while (out && std::fgets(line, sizeof line, out)) {
        if (std::regex_search(line, m, hop))
            hops.push_back(m[1].str() + ' ' + m[2].str());
    }
    if (out)
        pclose(out);
    return hops;
}

// Our hops as Debian's traceroute lists them.
Strings AsDebianListsThem(const Strings& hops)
{
    Strings listed;
    for (const std::string& hop : hops) {
        std::istringstream fields(hop);
        std::string ttl, address;
        fields >> ttl >> address;
        listed.push_back(ttl + ' ' + (address == "0.0.0.0" ? "*" : address));
    }
    return listed;
}

bool SetNetns(int fd)
{
    return fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
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
        LoadIcmpLibrary();
    }
    static void TearDownTestSuite()
    {
        FreeIcmpLibrary();
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
        ASSERT_TRUE(SetNetns(hostNs_));
    }
    void TearDown() override
    {
        if (geteuid() != 0)
            return;
        SetNetns(home_);
        for (const char* undo : {"unsilence r1", "unsilence r2", "unmute-target", "dgram on"})
            Topology(std::string(undo) + " 2>/dev/null");
    }

    static inline bool up_ = false;
    static inline int home_ = -1;
    static inline int hostNs_ = -1;
};

const Strings kThreeHops = {"1 10.200.1.1 TTL_EXPIRED_TRANSIT", "2 10.200.2.2 TTL_EXPIRED_TRANSIT",
                            "3 10.200.3.2 SUCCESS"};

struct TraceCase {
    const char* name;
    Strings setup;
    Strings hops;
    std::string exactly;  // a piece of the pane, to the byte
    bool asDebian;  // Debian's traceroute finds the same hops (it goes on after a silent hop; we may not)
};

class TraceTest : public IcmpTopologyTest, public testing::WithParamInterface<TraceCase> {};

TEST_P(TraceTest, HopsToTheTarget)
{
    for (const std::string& step : GetParam().setup)
        ASSERT_TRUE(Topology(step));
    TracePage page;
    const std::string pane = Query(&page, kTarget);
    EXPECT_TRUE(pane.starts_with(TraceHead(kTarget))) << pane;
    EXPECT_TRUE(pane.ends_with("\r\n\r\nTrace Complete")) << pane;
    EXPECT_NE(pane.find(GetParam().exactly), std::string::npos) << pane;
    const Strings hops = Hops(pane);
    EXPECT_EQ(hops, GetParam().hops) << pane;
    if (GetParam().asDebian) {
        EXPECT_EQ(AsDebianListsThem(hops), DebianTraceroute());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Topology, TraceTest,
    testing::Values(TraceCase{"DatagramSocket", {"dgram on"}, kThreeHops, "\n3    10.200.3.2       ", true},
                    TraceCase{"RawSocket", {"dgram off"}, kThreeHops, "\n3    10.200.3.2       ", true},
                    TraceCase{"SilentSecondRouterEndsIt",
                              {"silence r2"},
                              {"1 10.200.1.1 TTL_EXPIRED_TRANSIT", "2 0.0.0.0 REQ_TIMED_OUT"},
                              "\n2    0.0.0.0          -1     REQ_TIMED_OUT\r\n\r\nTrace Complete",
                              false},
                    TraceCase{"SilentFirstHopSteppedOver",
                              {"silence r1", "dgram off"},
                              {"1 0.0.0.0 REQ_TIMED_OUT", kThreeHops[1], kThreeHops[2]},
                              "-\r\n1    0.0.0.0          -1     REQ_TIMED_OUT\r\n",
                              true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(IcmpTopologyTest, UnreachableNetworkGoesOnUntilTheLastTtl)
{
    // r1 answers every echo towards 10.200.9.0/24 with net-unreachable: a
    // reply with a non-zero status each time, so the trace runs to 254.
    TracePage page;
    const std::string pane = Query(&page, "10.200.9.1", 60000);
    Strings want;
    for (int ttl = 1; ttl <= 254; ++ttl)
        want.push_back(std::to_string(ttl) + " 10.200.1.1 DEST_NET_UNREACHABLE");
    EXPECT_EQ(Hops(pane), want) << pane.substr(0, 2000);
    EXPECT_TRUE(pane.ends_with("DEST_NET_UNREACHABLE\r\n\r\nTrace Complete"));
}

TEST_F(IcmpTopologyTest, PingTexts)
{
    PingPage page;
    std::string pane = Query(&page, kTarget);
    EXPECT_TRUE(IsPingAnswer(pane, kTarget)) << pane;
    EXPECT_EQ(Query(&page, "1abc"), PingHead("1abc", "255.255.255.255") + "\tPing Failed!");
    // Resolving from h reaches no name server: r1 answers unreachable.
    EXPECT_EQ(Query(&page, "no-such-host.invalid"),
              "\tResolving Address For no-such-host.invalid...\r\n\tInvalid Address!\r\n\tPing Failed!");

    ASSERT_TRUE(Topology("mute-target"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Query(&page, kTarget), PingHead(kTarget, kTarget) + "\tPing Failed!");
    EXPECT_GE(clock.elapsed(), 2900);  // the whole 3 s time-out
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
            EXPECT_EQ(Hops(PaneText(&trace)), kThreeHops) << way << "\n" << PaneText(&trace);
            EXPECT_TRUE(IsPingAnswer(PaneText(&ping), kTarget)) << PaneText(&ping);
            EXPECT_TRUE(IsPingAnswer(PaneText(&ping2), "10.200.2.2")) << PaneText(&ping2);
        }
    }
}

TEST_F(IcmpTopologyTest, StopEndsAWaitingEchoAtOnce)
{
    // The ping waits for a target that does not answer, the trace for a
    // first hop that does not.
    ASSERT_TRUE(Topology("mute-target"));
    ASSERT_TRUE(Topology("silence r1"));
    PingPage ping;
    TracePage trace;
    for (auto [page, head] : {std::pair<EchoToolPage*, std::string>{&ping, PingHead(kTarget, kTarget)},
                              {&trace, TraceHead(kTarget)}}) {
        StartQuery(page, kTarget);
        ASSERT_TRUE(QTest::qWaitFor([&] { return PaneText(page) == head; }, 5000)) << PaneText(page);
        ASSERT_EQ(QueryButton(page)->text(), QStringLiteral("STOP"));
        QueryButton(page)->click();
        EXPECT_EQ(QueryButton(page)->text(), QStringLiteral("QUERY"));

        // The abandoned task's thread must not linger in its echo's time-out,
        // nor write anything more.
        QElapsedTimer clock;
        clock.start();
        page->AbandonTasks();
        page->JoinTasks();
        EXPECT_LT(clock.elapsed(), 1500) << head;
        QCoreApplication::processEvents();
        EXPECT_EQ(PaneText(page), head + "\tOperation Aborted");
    }
}

TEST_F(IcmpTopologyTest, LoopbackOfTheHostNamespace)
{
    ASSERT_TRUE(SetNetns(home_));  // raw socket as root, its own request seen on loopback
    PingPage ping;
    const std::string pane = Query(&ping, "127.0.0.1");
    EXPECT_TRUE(IsPingAnswer(pane, "127.0.0.1")) << pane;
    TracePage trace;
    EXPECT_EQ(Query(&trace, "127.0.0.1"), TraceHead("127.0.0.1") + "1    127.0.0.1        0      SUCCESS\r\n\r\nTrace Complete");
}

}  // namespace
