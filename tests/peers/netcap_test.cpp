// The privilege helper quorlix-netcap: its three requests as root, and the
// path of an unprivileged user (nobody, through setpriv), who gets a raw ICMP
// socket from a helper with its file capabilities and, without one, sees the
// pages' failure words and the one-time hint.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QPushButton>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

#include "icmp/IcmpPrivilegeHint.h"
#include "icmp/EchoToolPage.h"
#include "netcap/NetcapClient.h"
#include "platform/IcmpLibrary.h"
#include "support/GuiTest.h"

extern char** environ;

namespace {

const std::string kHelper = std::string(QUORLIX_BINARY_DIR) + "/src/quorlix-netcap";

int SocketOption(int fd, int level, int name)
{
    int value = -1;
    socklen_t len = sizeof value;
    getsockopt(fd, level, name, &value, &len);
    return value;
}

// Runs the helper with text as its one request; the raw answer.
std::string AskRaw(const std::string& text)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return "socketpair";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    char* argv[] = {const_cast<char*>(kHelper.c_str()), nullptr};
    pid_t pid;
    int spawned = posix_spawn(&pid, kHelper.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pair[1]);
    std::string answer = "spawn";
    if (spawned == 0) {
        send(pair[0], text.data(), text.size(), 0);
        char buffer[128];
        ssize_t n = recv(pair[0], buffer, sizeof buffer, 0);
        answer = n > 0 ? std::string(buffer, size_t(n)) : "nothing";
        waitpid(pid, nullptr, 0);
    }
    close(pair[0]);
    return answer;
}

std::string Query(ToolPage* page, const QString& host)
{
    page->Item<QComboBox>(1011)->setEditText(host);
    page->Item<QPushButton>(1004)->click();
    EXPECT_TRUE(WaitForCaption(page->Item<QPushButton>(1004), QStringLiteral("QUERY"), 20000));
    return PaneText(page);
}

class NetcapHelperTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: the helper runs here with the caller's privilege";
        SetNetcapHelperPath(kHelper);
    }
};

}  // namespace

TEST_F(NetcapHelperTest, HandsOverARawIcmpSocket)
{
    NetcapRequest request;
    request.kind = NetcapKind::RawIcmp;
    NetcapResult result = AskNetcap(request, nullptr);
    ASSERT_EQ(result.outcome, NetcapResult::Outcome::Answered);
    EXPECT_EQ(result.error, 0);
    ASSERT_GE(result.fd, 0);
    EXPECT_EQ(SocketOption(result.fd, SOL_SOCKET, SO_TYPE), SOCK_RAW);
    EXPECT_EQ(SocketOption(result.fd, SOL_SOCKET, SO_PROTOCOL), IPPROTO_ICMP);
    close(result.fd);
}

TEST_F(NetcapHelperTest, HandsOverAPacketSocketOnANamedInterface)
{
    NetcapRequest request;
    request.kind = NetcapKind::PacketSocket;
    request.interfaceName = "lo";
    NetcapResult result = AskNetcap(request, nullptr);
    ASSERT_EQ(result.outcome, NetcapResult::Outcome::Answered);
    ASSERT_GE(result.fd, 0);
    EXPECT_EQ(SocketOption(result.fd, SOL_SOCKET, SO_DOMAIN), AF_PACKET);
    EXPECT_EQ(SocketOption(result.fd, SOL_SOCKET, SO_TYPE), SOCK_DGRAM);
    close(result.fd);

    request.interfaceName = "qxnosuch0";
    result = AskNetcap(request, nullptr);
    EXPECT_EQ(result.outcome, NetcapResult::Outcome::Answered);
    EXPECT_EQ(result.error, ENODEV);
    EXPECT_EQ(result.fd, -1);
}

TEST_F(NetcapHelperTest, KillsOneTcpConnection)
{
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof server;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&server), &len);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
    int accepted = accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    sockaddr_in local{};
    len = sizeof local;
    getsockname(client, reinterpret_cast<sockaddr*>(&local), &len);

    NetcapRequest request;
    request.kind = NetcapKind::KillTcp;
    request.localAddress = local.sin_addr.s_addr;
    request.localPort = ntohs(local.sin_port);
    request.remoteAddress = server.sin_addr.s_addr;
    request.remotePort = ntohs(server.sin_port);
    NetcapResult result = AskNetcap(request, nullptr);
    ASSERT_EQ(result.outcome, NetcapResult::Outcome::Answered);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.fd, -1);
    char byte;
    EXPECT_EQ(recv(client, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNABORTED);

    // The same connection again: gone.
    result = AskNetcap(request, nullptr);
    EXPECT_EQ(result.outcome, NetcapResult::Outcome::Answered);
    EXPECT_EQ(result.error, ENOENT);
    close(client);
    close(accepted);
    close(listener);
}

TEST_F(NetcapHelperTest, RefusesAnythingElse)
{
    EXPECT_EQ(AskRaw("icmp\n"), "ok\n");
    EXPECT_EQ(AskRaw("icmp extra\n"), "error 22\n");
    EXPECT_EQ(AskRaw("packet ../eth0\n"), "error 22\n");
    EXPECT_EQ(AskRaw("kill 127.0.0.1 1 127.0.0.1\n"), "error 22\n");
    EXPECT_EQ(AskRaw(std::string(300, 'i')), "error 22\n");  // longer than any request
}

TEST_F(NetcapHelperTest, MissingHelperIsReportedAsMissing)
{
    SetNetcapHelperPath("/nonexistent/quorlix-netcap");
    NetcapRequest request;
    EXPECT_EQ(AskNetcap(request, nullptr).outcome, NetcapResult::Outcome::HelperMissing);
    SetNetcapHelperPath(kHelper);
}

// The unprivileged side, run by NetcapAsNobodyTest in a child process as
// nobody. QUORLIX_NETCAP_TEST_HELPER is the helper to use, and
// QUORLIX_NETCAP_TEST_EXPECT says what it is: "works", "refused" (no
// capabilities) or "missing".
TEST(AsNobody, PagesThroughTheHelper)
{
    const char* helper = std::getenv("QUORLIX_NETCAP_TEST_HELPER");
    const char* expectText = std::getenv("QUORLIX_NETCAP_TEST_EXPECT");
    if (!helper || !expectText)
        GTEST_SKIP() << "run as nobody by NetcapAsNobodyTest";
    const std::string expect = expectText;
    ASSERT_NE(geteuid(), 0u);
    // Neither socket of its own may work, or the helper would not be asked.
    int own = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    ASSERT_LT(own, 0);
    own = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    ASSERT_LT(own, 0);

    SetNetcapHelperPath(helper);
    LoadIcmpLibrary();
    ResetIcmpPrivilegeHint();
    MessageRecorder messages;
    PingPage ping;
    TracePage trace;
    const std::string pingHead = "\tResolving Address For 127.0.0.1...\r\n\t[127.0.0.1]\r\n\r\n"
                                 "\tPinging Host: [127.0.0.1]...\r\n";
    const std::string traceHead = "\tResolving Address For 127.0.0.1...\r\n\t[127.0.0.1]\r\n\r\nBegining Trace...\r\n\r\n"
                                  "TTL  Host             Ms     Status\r\n-----------------------------------\r\n";
    if (expect == "works") {
        std::string pane = Query(&ping, "127.0.0.1");
        EXPECT_EQ(pane.substr(0, pingHead.size()), pingHead);
        EXPECT_TRUE(std::regex_match(pane.substr(pingHead.size()), std::regex("\t\\d+ Milliseconds"))) << pane;
        EXPECT_EQ(Query(&trace, "127.0.0.1"), traceHead + "1    127.0.0.1        0      SUCCESS\r\n\r\nTrace Complete");
        EXPECT_TRUE(messages.Messages().empty());
    } else {
        EXPECT_EQ(Query(&ping, "127.0.0.1"), pingHead + "\tPing Failed!");
        EXPECT_EQ(Query(&ping, "127.0.0.1"), pingHead + "\tPing Failed!");
        EXPECT_EQ(Query(&trace, "127.0.0.1"), traceHead +
                                                  "1    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                                  "2    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                                  "\r\nTrace Complete");
        ASSERT_EQ(messages.Messages().size(), 1u);  // once, whichever page meets it first
        const QString text = messages.Messages()[0].text;
        EXPECT_EQ(messages.Messages()[0].kind, MessageKind::Warning);
        EXPECT_TRUE(text.contains(QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+ep ") + helper)) << text.toStdString();
        EXPECT_TRUE(text.contains(expect == "missing" ? QStringLiteral("is not at") : QStringLiteral("lacks")))
            << text.toStdString();
    }
    FreeIcmpLibrary();
}

class NetcapAsNobodyTest : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: sets file capabilities and switches to nobody";
        std::ifstream range("/proc/sys/net/ipv4/ping_group_range");
        long low = 1, high = 0;
        range >> low >> high;
        if (low <= 65534 && 65534 <= high)
            GTEST_SKIP() << "this host allows nobody ICMP datagram sockets; the helper would not be asked";
        char dir[] = "/tmp/qxnetcap.XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        dir_ = dir;
        chmod(dir, 0755);
    }
    void TearDown() override
    {
        if (!dir_.empty())
            std::system(("rm -rf " + dir_).c_str());
    }
    std::string dir_;
};

TEST_P(NetcapAsNobodyTest, Unprivileged)
{
    const std::string expect = GetParam();
    const std::string helper = dir_ + "/quorlix-netcap";
    if (expect != "missing") {
        ASSERT_EQ(std::system(("cp " + kHelper + " " + helper).c_str()), 0);
    }
    if (expect == "works") {
        ASSERT_EQ(std::system(("setcap cap_net_raw,cap_net_admin+ep " + helper).c_str()), 0);
    }

    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string command = "QUORLIX_NETCAP_TEST_HELPER=" + helper + " QUORLIX_NETCAP_TEST_EXPECT=" + expect +
                          " setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all " + self +
                          " --gtest_filter=AsNobody.* --gtest_brief=1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

INSTANTIATE_TEST_SUITE_P(Helper, NetcapAsNobodyTest, testing::Values("works", "refused", "missing"),
                         [](const auto& p) { return std::string(p.param); });
