// The NetStat page in a namespace of its own, against ss(8); kills seen by both ends, also as nobody via the helper.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>

#include <QPlainTextEdit>
#include <map>
#include <regex>
#include <sstream>

#include "hostinfo/ConnectionTable.h"
#include "hostinfo/NetStatPage.h"
#include "privilege/NetcapClient.h"
#include "privilege/SockDiag.h"
#include "support/GuiTest.h"
#include "support/PrivilegeTest.h"
#include "support/TestNamespace.h"
#include "ui/OutputPane.h"
#include "ui/PrivilegeHint.h"

namespace {

// ss's rows as the table prints them: mapped addresses unwrapped, "*" as 0.0.0.0 or port 0, a zone in the brackets, on both ends.
std::vector<std::string> SsRows(const std::string& ns, const std::string& command)  // the page's; -p: "pid/name" in pid order, else "-"
{
    const bool programs = command.ends_with('p');
    auto end = [](const std::string& e) {
        std::string host = e.substr(0, e.rfind(':')), port = e.substr(e.rfind(':') + 1);
        host = host.starts_with("[::ffff:") ? host.substr(8, host.size() - 9) : host == "*" ? "0.0.0.0" : host;
        host = host.ends_with("]%qxd") || host == "[fe80::1]" ? host.substr(0, host.find(']')) + "%qxd]" : host;
        return host + ':' + (port == "*" ? "0" : port);
    };
    std::vector<std::string> rows;
    const std::regex user("\\(\"([^\"]*)\",pid=([0-9]+),");
    for (const char* protocol : {"TCP", "UDP"}) {
        const bool udp = protocol[0] == 'U';
        std::istringstream in(CommandOutput((ns.empty() ? "" : "ip netns exec " + ns + " ") + command));
        std::string netid, state, rq, sq, local, peer;
        for (std::string line; std::getline(in, line);) {
            if (!(std::istringstream(line) >> netid >> state >> rq >> sq >> local >> peer) || netid != (udp ? "udp" : "tcp"))
                continue;
            state = udp ? "" : state == "ESTAB" ? "ESTABABLISHED" : state == "TIME-WAIT" ? "TIME_WAIT" : state;
            std::map<int, std::string> owners;  // by pid
            for (std::sregex_iterator u(line.begin(), line.end(), user), none; u != none; ++u)
                owners[std::stoi((*u)[2])] = (*u)[2].str() + "/" + (*u)[1].str();
            if (programs)  // the state padded to 13, the owners
                state = (udp ? "" : (state + "        ").substr(0, 13) + "  ") + (owners.empty() ? "-" : std::accumulate(owners.begin(), owners.end(), std::string(), [](auto a, auto& o) { return a + (a.empty() ? "" : ",") + o.second; }));
            char row[160];
            std::snprintf(row, sizeof row, "%-5s%-21s  %-21s  %s", protocol, end(local).c_str(), udp ? "*.*" : end(peer).c_str(), state.c_str());
            rows.push_back(row);
        }
    }
    return rows;
}

bool AddLinkLocal(const TestNamespace& ns)  // qxd, a veth pair's end, with fe80::1
{
    return ns.Ip("link add qxd type veth peer name qxe") && ns.Ip("addr add fe80::1/64 dev qxd nodad") && ns.Ip("link set qxe up") && ns.Ip("link set qxd up");
}

// Listener, established, TIME_WAIT, UDP, dual-stack [::] with an IPv4 client, IPv6-only listeners; ports fixed.
// The same over IPv6: ::1, and fe80::1 with its zone.
class NetStatPeerTest : public testing::Test {
protected:
    struct Pair { int client, server; };

    void SetUp() override
    {
        if (const char* helper = std::getenv("QUORLIX_NETSTAT_HELPER")) {
            SetNetcapHelperPath(helper);  // run by KillsThroughTheHelper, in its namespace
        } else {
            if (geteuid() != 0)
                GTEST_SKIP() << "needs root: makes a network namespace and kills connections";
            ns_ = std::make_unique<TestNamespace>("qx13-netstat");
            home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            const int inside = open(("/run/netns/" + ns_->Name()).c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_TRUE(ns_->Ok() && AddLinkLocal(*ns_) && inside >= 0 && setns(inside, CLONE_NEWNET) == 0);  // the page's threads follow
            close(inside);
        }
        listener_ = Listen("127.0.0.1", 7001);
        established_ = Connect(listener_, 7001, 7101);
        const Pair closed = Connect(Listen("127.0.0.1", 7002), 7002, 7102), closed6 = Connect(Listen("::1", 7008), 7008, 7208, "::1");
        for (int fd : {closed.client, closed.server, closed6.client, closed6.server})  // the end that closes first ends in TIME_WAIT
            close(fd), std::erase(fds_, fd);
        const sockaddr_in udp = LoopbackAddress(7003);
        bind(Keep(socket(AF_INET, SOCK_DGRAM, 0)), reinterpret_cast<const sockaddr*>(&udp), sizeof udp);
        mapped_ = Connect(Listen("::", 7004), 7004, 7104);
        v6_ = Connect(Listen("::1", 7006), 7006, 7206, "::1");
        linkLocal_ = Connect(Open6(SOCK_STREAM, "fe80::1%qxd", 7007), 7007, 7207, "fe80::1%qxd");
        ASSERT_TRUE(Open6(SOCK_STREAM, "::", 7005, 0, 1) >= 0 && Open6(SOCK_DGRAM, "::", 7003, 0, 1) >= 0 && Open6(SOCK_DGRAM, "fe80::1%qxd", 7009) >= 0);
        ASSERT_TRUE(QTest::qWaitFor([] { const auto t = ConnectionTableText(); return t.find("TIME_WAIT") != t.rfind("TIME_WAIT"); }, 2000));
        page_ = std::make_unique<NetStatPage>(nullptr);
        ASSERT_TRUE(Printed());
    }
    void TearDown() override
    {
        page_.reset();
        std::for_each(fds_.begin(), fds_.end(), close);
        if (home_ >= 0)
            setns(home_, CLONE_NEWNET), close(home_);
    }

    int Keep(int fd) { return fds_.push_back(fd), fd; }
    int Listen(const char* address, std::uint16_t port) { return Keep(ListenTcp(address, port)); }
    // An IPv6 socket bound to address (a zone allowed) and port: connected to port to, else a listener (TCP).
    int Open6(int type, const char* address, std::uint16_t port, std::uint16_t to = 0, int v6only = 0)
    {
        const int fd = Keep(socket(AF_INET6, type | SOCK_CLOEXEC, 0));
        const IpAddress ip = ParseIpv6Literal(address).value_or(IpAddress());
        sockaddr_storage at, peer;
        const socklen_t length = ip.ToSockaddr(port, at), peerLength = ip.ToSockaddr(to, peer);
        return setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) | bind(fd, reinterpret_cast<sockaddr*>(&at), length) |
                       (to ? connect(fd, reinterpret_cast<sockaddr*>(&peer), peerLength) : type == SOCK_STREAM ? listen(fd, 4) : 0) ? -1 : fd;
    }
    Pair Connect(int listener, std::uint16_t port, std::uint16_t clientPort, const char* v6 = nullptr)
    {
        const int client = v6 ? Open6(SOCK_STREAM, v6, clientPort, port) : Keep(ConnectTcp(port, clientPort));
        return {client, client < 0 ? -1 : Keep(accept(listener, nullptr, nullptr))};
    }
    bool Printed() { return QTest::qWaitFor([&] { return !page_->Refreshing() && !page_->Killing(); }, 5000); }
    bool CaretOn(const std::string& text)  // on the first line holding text
    {
        QTextCursor found = page_->Pane()->document()->find(QString::fromStdString(text));
        found.movePosition(QTextCursor::StartOfBlock);
        return !found.isNull() && (page_->Pane()->setTextCursor(found), true);
    }

    std::unique_ptr<TestNamespace> ns_;
    int home_ = -1;
    std::vector<int> fds_;
    int listener_ = -1;
    Pair established_{}, mapped_{}, v6_{}, linkLocal_{};
    std::unique_ptr<NetStatPage> page_;
};

// Every line exactly as ss sees the same sockets, in whatever order; then with their programs (also as nobody: root's show "-").
TEST_F(NetStatPeerTest, ExactTableAsSsSeesIt)
{
    for (int fd : fds_)  // held by this process only, not by ss and its shell
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::vector<std::string> lines;
    std::istringstream pane(PaneText(page_.get()));
    for (std::string line; std::getline(pane, line);)
        lines.push_back(line.substr(0, line.size() - 1));  // without its \r
    ASSERT_EQ(lines.size(), ns_ ? 22u : 23u);  // headings, 7 listeners, 4 established pairs, 2 TIME_WAIT, 3 UDP sockets; root's
    EXPECT_EQ(lines[0] + lines[1], "     Local Address          Remote Address         State           "
                                   "     -------------          --------------         -----           ");
    EXPECT_THAT(SsRows(ns_ ? ns_->Name() : "", page_->Pane()->CommandLine()), testing::UnorderedElementsAreArray(lines.begin() + 2, lines.end()));
    const pid_t child = fork();
    if (child == 0)  // keeps only the listener
        prctl(PR_SET_PDEATHSIG, SIGKILL), close_range(3, unsigned(listener_) - 1, 0), close_range(unsigned(listener_) + 1, ~0u, 0), prctl(PR_SET_NAME, "qx-child"), pause();
    ASSERT_TRUE(QTest::qWaitFor([&] { return CommandOutput("cat /proc/" + std::to_string(child) + "/comm") == "qx-child\n"; }, 2000));
    page_->Item<QCheckBox>(NetStatControls::kProgramsBox)->click();
    EXPECT_TRUE(Printed());
    std::istringstream shown(PaneText(page_.get()));
    for (std::string& line : lines)
        std::getline(shown, line), line.pop_back();
    EXPECT_THAT(SsRows(ns_ ? ns_->Name() : "", page_->Pane()->CommandLine()), testing::UnorderedElementsAreArray(lines.begin() + 2, lines.end()));
    kill(child, SIGKILL), waitpid(child, nullptr, 0);
}

// Refusals and No leave all as it was; a refresh keeps the caret on its connection, or at the end once gone.
TEST_F(NetStatPeerTest, RefusalsLeaveTheTable)
{
    const char* const line = "TCP  127.0.0.1:7001         127.0.0.1:7101         ESTABABLISHED";
    Connect(listener_, 7001, 7106);
    enum Step { None, RowAbove, Gone };  // around the refresh after the caret is placed
    const struct { const char* caretOn; Step step; bool answer; QString message, detail; } cases[] = {  // caretOn null: an empty pane
        {"Local Address", None, true, "This Is Not A Valid Connection", ""},
        {"TIME_WAIT", None, true, "Can Only Kill Established Connections!", ""},
        {line, RowAbove, false, "Kill Connection?", line},
        {"127.0.0.1:7001         127.0.0.1:7106", Gone, false, "This Is Not A Valid Connection", ""},
        {nullptr, None, true, "Nothing Selected!", ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(!c.caretOn || CaretOn(c.caretOn));
        if (c.step == RowAbove)
            Listen("127.0.0.1", 7011);  // listeners come first in the kernel's dump
        if (c.step == Gone)
            DestroyTcpConnection({inet_addr("127.0.0.1"), 7001, inet_addr("127.0.0.1"), 7106});
        page_->RefreshConnections();
        ASSERT_TRUE(Printed());
        if (!c.caretOn)
            page_->ClearOutput();
        const std::string before = PaneText(page_.get());
        MessageRecorder recorder(c.answer);
        page_->Item<QPushButton>(NetStatControls::kKillButton)->click();
        ASSERT_EQ(recorder.Texts(), QStringList{c.message});
        EXPECT_EQ(recorder.Messages()[0].detail, c.detail);
        EXPECT_EQ(PaneText(page_.get()), before);
        EXPECT_EQ(SocketError(established_.server), EAGAIN);
    }
    const IpAddress loopback = *ParseIpv6Literal("::1");  // the kill itself refuses an IPv6 TIME_WAIT and listener
    EXPECT_EQ(DestroyTcpConnection({loopback, 7208, loopback, 7008}) + DestroyTcpConnection({loopback, 7006, *ParseIpv6Literal("::"), 0}), 2 * ENOTCONN);
}

// The line is read before the question; both ends see the kill, the dual-stack one's through its AF_INET6 socket.
TEST_F(NetStatPeerTest, KillsTheConnectionUnderTheCaret)
{
    const Pair later = Connect(listener_, 7001, 7105);
    for (auto [line, pair] : {std::pair{"127.0.0.1:7001         127.0.0.1:7101", established_},
                              {"127.0.0.1:7004         127.0.0.1:7104", mapped_},
                              {"[::1]:7006             [::1]:7206", v6_},
                              {"[fe80::1%qxd]:7007     [fe80::1%qxd]:7207", linkLocal_}}) {
        ASSERT_TRUE(CaretOn(line));
        MessageRecorder recorder([&](const QString&) { return page_->RefreshConnections(), Printed(); });
        page_->Item<QPushButton>(NetStatControls::kKillButton)->click();
        ASSERT_EQ(recorder.Texts(), QStringList{"Kill Connection?"});
        ASSERT_TRUE(Printed());
        EXPECT_EQ(SocketError(pair.server), ECONNABORTED) << line;
        EXPECT_EQ(SocketError(pair.client), ECONNRESET);
        EXPECT_EQ(PaneText(page_.get()).find(line), std::string::npos);
    }
    EXPECT_EQ(SocketError(later.server), EAGAIN);
}

// Nobody outside the group: the helper will not run for them.
TEST_F(NetStatPeerTest, RefusedKillGivesTheHint)
{
    if (!std::getenv("QUORLIX_NETSTAT_OUTSIDER"))
        GTEST_SKIP() << "run as nobody outside the group quorlix by NetStatMemberTest";
    ASSERT_TRUE(CaretOn("ESTAB"));
    MessageRecorder recorder(true);
    page_->KillSelectedConnection();
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.Texts().size() == 3; }, 3000));
    EXPECT_EQ(recorder.Texts(), (QStringList{"Kill Connection?", "Error: Unable To Kill Connection!",
                                             PrivilegeHintText(PrivilegedOperation::Kill, PrivilegeFailure::HelperDenied)}));
    EXPECT_EQ(SocketError(established_.client), EAGAIN);
}

TEST(NetStatMemberTest, KillsThroughTheHelper)
{
    if (geteuid() != 0 || std::getenv("QUORLIX_NETSTAT_HELPER"))
        GTEST_SKIP() << "needs root: makes a namespace, installs the helper, switches to nobody";
    const TestNamespace ns("qx13-member"), tableNs("qx13-nobody");  // a fresh one for the table: no TIME_WAIT of the kills
    const InstalledHelperCopy helper;
    ASSERT_TRUE(ns.Ok() && AddLinkLocal(ns) && tableNs.Ok() && AddLinkLocal(tableNs) && helper.Ready());
    const std::string env = "QUORLIX_NETSTAT_HELPER=" + helper.Path();
    const PeerProcess rootSocket({"ip", "netns", "exec", tableNs.Name(), "socat", "-u", "UDP-RECV:7030,bind=127.0.0.1", "STDOUT"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !CommandOutput("ip netns exec " + tableNs.Name() + " ss -Huan sport = :7030").empty(); }, 2000));
    EXPECT_TRUE(RunSelf(tableNs.Name(), env, "NetStatPeerTest.ExactTableAsSsSeesIt", true, 0));
    EXPECT_TRUE(RunSelf(ns.Name(), env, "NetStatPeerTest.KillsTheConnectionUnderTheCaret", true, helper.Group()));
    EXPECT_TRUE(RunSelf(ns.Name(), env + " QUORLIX_NETSTAT_OUTSIDER=1", "NetStatPeerTest.RefusedKillGivesTheHint", true, 0));
}

}  // namespace
