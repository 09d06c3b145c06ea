// Ping and Traceroute pages against routers and a target in network
// namespaces that the test builds itself (see IcmpTopology.h), compared with
// Debian's traceroute; the echo component through both of its own sockets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "icmp/EchoToolPage.h"
#include "peers/IcmpTopology.h"
#include "platform/IcmpLibrary.h"
#include "support/GuiTest.h"

namespace {

constexpr const char* kTarget = "10.200.3.2";

// Presses QUERY with host in the host box and waits for the task's end.
void StartQuery(ToolPage* page, const QString& host)
{
    page->Item<QComboBox>(1011)->setEditText(host);
    page->Item<QPushButton>(1004)->click();
}

std::string Query(ToolPage* page, const QString& host, int timeoutMs = 20000)
{
    StartQuery(page, host);
    EXPECT_TRUE(WaitForCaption(page->Item<QPushButton>(1004), QStringLiteral("QUERY"), timeoutMs));
    return PaneText(page);
}

struct Hop {
    int ttl;
    std::string address;
    int ms;
    std::string status;
};

std::vector<Hop> HopLines(const std::string& pane)
{
    static const std::regex line(R"((\d+) {2,4}(\S+) +(-?\d+) +(\S+)\r\n)");
    std::vector<Hop> hops;
    for (std::sregex_iterator it(pane.begin(), pane.end(), line), end; it != end; ++it)
        hops.push_back({std::stoi((*it)[1]), (*it)[2], std::stoi((*it)[3]), (*it)[4]});
    return hops;
}

std::string TraceHead(const std::string& host)
{
    return "\tResolving Address For " + host + "...\r\n\t[" + host +
           "]\r\n\r\nBegining Trace...\r\n\r\nTTL  Host             Ms     Status\r\n"
           "-----------------------------------\r\n";
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class IcmpTopologyTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0)
            return;
        topology_ = new IcmpTopology;
        LoadIcmpLibrary();
    }
    static void TearDownTestSuite()
    {
        FreeIcmpLibrary();
        delete topology_;
        topology_ = nullptr;
    }
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: builds network namespaces";
        ASSERT_TRUE(topology_ && topology_->Up());
        netns_ = std::make_unique<NetnsScope>(topology_->Namespace("h"));
        ASSERT_TRUE(netns_->Entered());
    }
    void TearDown() override
    {
        netns_.reset();
        if (topology_) {
            for (const char* undo : {"unsilence r1", "unsilence r2", "unmute-target", "dgram on"})
                topology_->Run(std::string(undo) + " 2>/dev/null");
        }
    }

    // The hop addresses Debian's traceroute finds from h ("*" for silence).
    static std::vector<std::string> DebianTraceroute(const std::string& host)
    {
        std::string command = "ip netns exec " + topology_->Namespace("h") + " traceroute -I -n -q 1 -w 2 " + host;
        std::vector<std::string> hops;
        FILE* out = popen(command.c_str(), "r");
        if (!out)
            return hops;
        char line[256];
        static const std::regex hop(R"(^\s*\d+\s+(\S+))");
        std::cmatch m;
        while (std::fgets(line, sizeof line, out)) {
            if (std::regex_search(line, m, hop))
                hops.push_back(m[1]);
        }
        pclose(out);
        return hops;
    }

    static inline IcmpTopology* topology_ = nullptr;
    std::unique_ptr<NetnsScope> netns_;
};

}  // namespace

// Both ways to an ICMP socket: the datagram socket that h allows, and the raw
// socket that root opens when it does not.
class TraceBothSockets : public IcmpTopologyTest, public testing::WithParamInterface<bool> {};

TEST_P(TraceBothSockets, ThreeHopsAsDebianTracerouteFindsThem)
{
    const bool datagram = GetParam();
    ASSERT_TRUE(topology_->Run(datagram ? "dgram on" : "dgram off"));
    TracePage page;
    std::string pane = Query(&page, kTarget);

    auto hops = HopLines(pane);
    ASSERT_EQ(hops.size(), 3u) << pane;
    EXPECT_EQ(pane.substr(0, TraceHead(kTarget).size()), TraceHead(kTarget));
    EXPECT_TRUE(EndsWith(pane, "SUCCESS\r\n\r\nTrace Complete")) << pane;
    const char* want[][2] = {{"10.200.1.1", "TTL_EXPIRED_TRANSIT"},
                             {"10.200.2.2", "TTL_EXPIRED_TRANSIT"},
                             {"10.200.3.2", "SUCCESS"}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hops[i].ttl, i + 1);
        EXPECT_EQ(hops[i].address, want[i][0]);
        EXPECT_EQ(hops[i].status, want[i][1]);
        EXPECT_GE(hops[i].ms, 0);
    }
    std::vector<std::string> ours;
    for (const auto& h : hops)
        ours.push_back(h.address);
    EXPECT_EQ(ours, DebianTraceroute(kTarget));
}

INSTANTIATE_TEST_SUITE_P(Sockets, TraceBothSockets, testing::Bool(),
                         [](const auto& p) { return p.param ? "Datagram" : "Raw"; });

TEST_F(IcmpTopologyTest, SilentSecondRouterEndsTheTrace)
{
    ASSERT_TRUE(topology_->Run("silence r2"));
    TracePage page;
    std::string pane = Query(&page, kTarget);
    auto hops = HopLines(pane);
    ASSERT_EQ(hops.size(), 2u) << pane;
    EXPECT_EQ(hops[0].address, "10.200.1.1");
    EXPECT_TRUE(EndsWith(pane, "\r\n2    0.0.0.0          -1     REQ_TIMED_OUT\r\n\r\nTrace Complete")) << pane;
}

TEST_F(IcmpTopologyTest, SilentFirstHopIsSteppedOver)
{
    ASSERT_TRUE(topology_->Run("silence r1"));
    ASSERT_TRUE(topology_->Run("dgram off"));  // the raw socket's way this time
    TracePage page;
    std::string pane = Query(&page, kTarget);
    auto hops = HopLines(pane);
    ASSERT_EQ(hops.size(), 3u) << pane;
    EXPECT_EQ(pane.substr(TraceHead(kTarget).size(), 44), "1    0.0.0.0          -1     REQ_TIMED_OUT\r\n");
    EXPECT_EQ(hops[1].address, "10.200.2.2");
    EXPECT_EQ(hops[1].status, "TTL_EXPIRED_TRANSIT");
    EXPECT_EQ(hops[2].address, kTarget);
    EXPECT_EQ(hops[2].status, "SUCCESS");
    EXPECT_EQ(DebianTraceroute(kTarget), (std::vector<std::string>{"*", "10.200.2.2", kTarget}));
}

TEST_F(IcmpTopologyTest, UnreachableNetworkGoesOnUntilTheLastTtl)
{
    // r1 answers every echo towards 10.200.9.0/24 with net-unreachable: one
    // reply with a non-zero status each time, so the trace runs to 254.
    TracePage page;
    std::string pane = Query(&page, "10.200.9.1", 60000);
    auto hops = HopLines(pane);
    ASSERT_EQ(hops.size(), 254u) << pane.substr(0, 2000);
    for (const auto& h : hops) {
        EXPECT_EQ(h.address, "10.200.1.1");
        EXPECT_EQ(h.status, "DEST_NET_UNREACHABLE");
    }
    EXPECT_EQ(hops.back().ttl, 254);
    EXPECT_TRUE(EndsWith(pane, "DEST_NET_UNREACHABLE\r\n\r\nTrace Complete"));
}

TEST_F(IcmpTopologyTest, PingTexts)
{
    PingPage page;
    static const std::regex answered(
        "\tResolving Address For 10\\.200\\.3\\.2\\.\\.\\.\r\n\t\\[10\\.200\\.3\\.2\\]\r\n\r\n"
        "\tPinging Host: \\[10\\.200\\.3\\.2\\]\\.\\.\\.\r\n\t\\d+ Milliseconds");
    std::string pane = Query(&page, kTarget);
    EXPECT_TRUE(std::regex_match(pane, answered)) << pane;

    EXPECT_EQ(Query(&page, "1abc"),
              "\tResolving Address For 1abc...\r\n\t[255.255.255.255]\r\n\r\n"
              "\tPinging Host: [255.255.255.255]...\r\n\tPing Failed!");
    // Resolving from h reaches no name server: r1 answers unreachable.
    EXPECT_EQ(Query(&page, "no-such-host.invalid"),
              "\tResolving Address For no-such-host.invalid...\r\n\tInvalid Address!\r\n\tPing Failed!");

    ASSERT_TRUE(topology_->Run("mute-target"));
    QElapsedTimer clock;
    clock.start();
    pane = Query(&page, kTarget);
    EXPECT_GE(clock.elapsed(), 2900);  // the whole 3 s time-out
    EXPECT_TRUE(EndsWith(pane, "\tPinging Host: [10.200.3.2]...\r\n\tPing Failed!")) << pane;
}

TEST_F(IcmpTopologyTest, PingAndTracerouteAtOnceEachGetTheirOwnAnswers)
{
    // Raw sockets see every ICMP packet of the namespace, so the two pages'
    // echoes must be told apart by identifier and sequence.
    for (const char* way : {"dgram off", "dgram on"}) {
        ASSERT_TRUE(topology_->Run(way));
        PingPage ping;
        TracePage trace;
        PingPage ping2;
        for (int round = 0; round < 3; ++round) {
            StartQuery(&trace, kTarget);
            StartQuery(&ping, kTarget);
            StartQuery(&ping2, "10.200.2.2");
            for (ToolPage* p : std::initializer_list<ToolPage*>{&trace, &ping, &ping2})
                ASSERT_TRUE(WaitForCaption(p->Item<QPushButton>(1004), QStringLiteral("QUERY"), 20000));
            auto hops = HopLines(PaneText(&trace));
            ASSERT_EQ(hops.size(), 3u) << way << "\n" << PaneText(&trace);
            EXPECT_EQ(hops[0].address, "10.200.1.1");
            EXPECT_EQ(hops[1].address, "10.200.2.2");
            EXPECT_EQ(hops[2].address, kTarget);
            EXPECT_EQ(hops[2].status, "SUCCESS");
            EXPECT_TRUE(std::regex_search(PaneText(&ping), std::regex("\t\\d+ Milliseconds$"))) << PaneText(&ping);
            EXPECT_TRUE(std::regex_search(PaneText(&ping2), std::regex("\t\\d+ Milliseconds$")))
                << PaneText(&ping2);
        }
    }
}

TEST_F(IcmpTopologyTest, StopEndsAWaitingEchoAtOnce)
{
    // The ping waits for a target that does not answer, the trace for a
    // first hop that does not.
    ASSERT_TRUE(topology_->Run("mute-target"));
    ASSERT_TRUE(topology_->Run("silence r1"));
    for (bool trace : {false, true}) {
        std::unique_ptr<ToolPage> page;
        if (trace) {
            page = std::make_unique<TracePage>();
        } else {
            page = std::make_unique<PingPage>();
        }
        auto* button = page->Item<QPushButton>(1004);
        StartQuery(page.get(), kTarget);
        QTest::qWait(300);
        ASSERT_EQ(button->text(), QStringLiteral("STOP"));
        button->click();
        EXPECT_EQ(button->text(), QStringLiteral("QUERY"));
        EXPECT_TRUE(EndsWith(PaneText(page.get()), "\tOperation Aborted")) << PaneText(page.get());

        // The abandoned task's thread must not linger in its echo's time-out.
        QElapsedTimer clock;
        clock.start();
        page->AbandonTasks();
        page->JoinTasks();
        EXPECT_LT(clock.elapsed(), 1500) << (trace ? "trace" : "ping");
        QTest::qWait(50);
        EXPECT_TRUE(EndsWith(PaneText(page.get()), "\tOperation Aborted"));
    }
}

TEST_F(IcmpTopologyTest, LoopbackOfTheHostNamespace)
{
    netns_.reset();  // back in the host's namespace: raw socket as root, reply on loopback
    PingPage ping;
    std::string pane = Query(&ping, "127.0.0.1");
    EXPECT_TRUE(std::regex_search(pane, std::regex("\tPinging Host: \\[127\\.0\\.0\\.1\\]\\.\\.\\.\r\n\t\\d+ Milliseconds$")))
        << pane;
    TracePage trace;
    EXPECT_EQ(Query(&trace, "127.0.0.1"), TraceHead("127.0.0.1") + "1    127.0.0.1        0      SUCCESS\r\n\r\nTrace Complete");
}
