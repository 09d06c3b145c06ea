// The privilege helper quorlix-netcap: its three requests as root, and the
// path of an unprivileged user (nobody, through setpriv), who gets a raw ICMP
// socket from a helper with its file capabilities and, without one, sees the
// pages' failure words and the one-time hint.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "icmp/IcmpPrivilegeHint.h"
#include "platform/NetcapClient.h"
#include "platform/CancelToken.h"
#include "platform/IcmpLibrary.h"
#include "support/EchoPageTest.h"

namespace {

const std::string kHelper = QUORLIX_BINARY_DIR "/src/quorlix-netcap";

int SocketOption(int fd, int name)
{
    int value = -1;
    socklen_t len = sizeof value;
    getsockopt(fd, SOL_SOCKET, name, &value, &len);
    return value;
}

// Runs the helper with text as its one request: its answer, as it came.
std::string AskRaw(const std::string& text)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return "socketpair";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pair[1], 0);
        execl(kHelper.c_str(), kHelper.c_str(), nullptr);
        _exit(127);
    }
    close(pair[1]);
    send(pair[0], text.data(), text.size(), 0);
    char buffer[128];
    const ssize_t n = recv(pair[0], buffer, sizeof buffer, 0);
    waitpid(pid, nullptr, 0);
    close(pair[0]);
    return n > 0 ? std::string(buffer, std::size_t(n)) : "nothing";
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

TEST_F(NetcapHelperTest, HandsOverSockets)
{
    // request, error, and the socket's domain, type and protocol (0: not checked)
    const std::tuple<NetcapRequest, int, int, int, int> cases[] = {
        {{NetcapKind::RawIcmp}, 0, AF_INET, SOCK_RAW, IPPROTO_ICMP},
        {{NetcapKind::PacketSocket, "lo"}, 0, AF_PACKET, SOCK_DGRAM, 0},
        {{NetcapKind::PacketSocket, "qxnosuch0"}, ENODEV, -1, -1, 0},
    };
    for (const auto& [request, error, domain, type, protocol] : cases) {
        const NetcapResult r = AskNetcap(request, nullptr);
        const std::string asked = FormatNetcapRequest(request);
        EXPECT_EQ(std::tuple(r.outcome, r.error, r.fd < 0),
                  std::tuple(NetcapResult::Outcome::Answered, error, error != 0))
            << asked;
        EXPECT_EQ(std::tuple(SocketOption(r.fd, SO_DOMAIN), SocketOption(r.fd, SO_TYPE)), std::tuple(domain, type))
            << asked;
        if (protocol) {
            EXPECT_EQ(SocketOption(r.fd, SO_PROTOCOL), protocol);
        }
        close(r.fd);
    }
    SetNetcapHelperPath("/nonexistent/quorlix-netcap");
    EXPECT_EQ(AskNetcap(NetcapRequest{}, nullptr).outcome, NetcapResult::Outcome::HelperMissing);
}

TEST_F(NetcapHelperTest, KillsOneTcpConnection)
{
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof server;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&server), len), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&server), &len);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&server), len), 0);
    int accepted = accept(listener, nullptr, nullptr);
    sockaddr_in local{};
    getsockname(client, reinterpret_cast<sockaddr*>(&local), &len);

    const NetcapRequest request{NetcapKind::KillTcp, "", local.sin_addr.s_addr, ntohs(local.sin_port),
                                server.sin_addr.s_addr, ntohs(server.sin_port)};
    NetcapResult result = AskNetcap(request, nullptr);
    ASSERT_EQ(result.outcome, NetcapResult::Outcome::Answered);
    EXPECT_EQ(std::tuple(result.error, result.fd), std::tuple(0, -1));
    char byte;
    EXPECT_EQ(recv(client, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNABORTED);
    EXPECT_EQ(AskNetcap(request, nullptr).error, ENOENT);  // gone already
    for (int fd : {client, accepted, listener})
        close(fd);
}

TEST_F(NetcapHelperTest, RefusesAnythingElse)
{
    EXPECT_EQ(AskRaw("icmp\n"), "ok\n");
    for (const std::string& text : {std::string("icmp extra\n"), std::string("packet ../eth0\n"),
                                    std::string("kill 127.0.0.1 1 127.0.0.1\n"), std::string(300, 'i')})
        EXPECT_EQ(AskRaw(text), "error 22\n") << text;
}

// A helper gone wrong, played by this program for NetcapClient.ClosesWhatABrokenHelperSends:
// answers "ok\n" with two descriptors where one is the most it may send.
TEST(FakeHelper, AnswersWithTwoDescriptors)
{
    if (!std::getenv("QUORLIX_NETCAP_FAKE_HELPER"))
        GTEST_SKIP() << "run as the helper by NetcapClient.ClosesWhatABrokenHelperSends";
    char request[128];
    ASSERT_GT(recv(0, request, sizeof request, 0), 0);
    const int fds[2] = {socket(AF_INET, SOCK_DGRAM, 0), socket(AF_INET, SOCK_DGRAM, 0)};
    char text[] = "ok\n";
    iovec iov{text, 3};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof fds)] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof fds);
    std::memcpy(CMSG_DATA(c), fds, sizeof fds);
    EXPECT_EQ(sendmsg(0, &msg, 0), 3);
}

namespace {

int OpenDescriptors()
{
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator()));
}

}  // namespace

// Whatever a helper does, the program ends up holding no descriptor it did
// not ask for, and no helper is left behind.
TEST(NetcapClient, ClosesWhatABrokenHelperSends)
{
    char dir[] = "/tmp/qxnetcap.XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string twoFds = std::string(dir) + "/two-fds", silent = std::string(dir) + "/silent";
    std::ofstream(twoFds) << "#!/bin/sh\nQUORLIX_NETCAP_FAKE_HELPER=1 exec " << self
                          << " --gtest_filter=FakeHelper.AnswersWithTwoDescriptors >/dev/null 2>&1\n";
    std::ofstream(silent) << "#!/bin/sh\nexec sleep 30\n";
    std::filesystem::permissions(twoFds, std::filesystem::perms::owner_all);
    std::filesystem::permissions(silent, std::filesystem::perms::owner_all);
    const std::string before = NetcapHelperPath();

    CancelToken stopped;
    const int open = OpenDescriptors();
    SetNetcapHelperPath(twoFds);
    NetcapResult r = AskNetcap(NetcapRequest{}, nullptr);
    EXPECT_EQ(std::tuple(r.outcome, r.fd), std::tuple(NetcapResult::Outcome::HelperFailed, -1));
    EXPECT_EQ(OpenDescriptors(), open);

    // One that never answers is ended when the task stops.
    SetNetcapHelperPath(silent);
    stopped.Cancel();
    r = AskNetcap(NetcapRequest{}, &stopped);
    EXPECT_EQ(std::tuple(r.outcome, r.fd), std::tuple(NetcapResult::Outcome::HelperFailed, -1));
    EXPECT_EQ(OpenDescriptors(), open);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child left, not even a zombie
    EXPECT_EQ(errno, ECHILD);

    SetNetcapHelperPath(before);
    std::filesystem::remove_all(dir);
}

// The unprivileged side, run by NetcapAsNobodyTest in a child process as
// nobody: QUORLIX_NETCAP_TEST_HELPER is the helper to use, and
// QUORLIX_NETCAP_TEST_EXPECT what it is: "works", "refused" (no capabilities)
// or "missing".
TEST(AsNobody, PagesThroughTheHelper)
{
    const char* helper = std::getenv("QUORLIX_NETCAP_TEST_HELPER");
    const char* expectText = std::getenv("QUORLIX_NETCAP_TEST_EXPECT");
    if (!helper || !expectText)
        GTEST_SKIP() << "run as nobody by NetcapAsNobodyTest";
    const std::string expect = expectText;
    // Neither socket of its own may work, or the helper would not be asked.
    ASSERT_LT(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP), 0);
    ASSERT_LT(socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP), 0);

    SetNetcapHelperPath(helper);
    LoadIcmpLibrary();
    ResetIcmpPrivilegeHint();
    MessageRecorder messages;
    PingPage ping;
    TracePage trace;
    const std::string pingFailed = PingHead("127.0.0.1", "127.0.0.1") + "\tPing Failed!";
    const std::string traced = TraceHead("127.0.0.1");
    if (expect == "works") {
        const std::string pane = Query(&ping, "127.0.0.1");
        EXPECT_TRUE(IsPingAnswer(pane, "127.0.0.1")) << pane;
        EXPECT_EQ(Query(&trace, "127.0.0.1"), traced + "1    127.0.0.1        0      SUCCESS\r\n\r\nTrace Complete");
        EXPECT_TRUE(messages.Messages().empty());
    } else {
        EXPECT_EQ(Query(&ping, "127.0.0.1"), pingFailed);
        EXPECT_EQ(Query(&ping, "127.0.0.1"), pingFailed);
        EXPECT_EQ(Query(&trace, "127.0.0.1"), traced +
                                                  "1    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                                  "2    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                                  "\r\nTrace Complete");
        ASSERT_EQ(messages.Messages().size(), 1u);  // once, whichever page meets it first
        const QString text = messages.Messages()[0].text;
        EXPECT_EQ(messages.Messages()[0].kind, MessageKind::Warning);
        EXPECT_TRUE(text.contains(QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+ep ") + helper))
            << text.toStdString();
        EXPECT_TRUE(text.contains(expect == "missing" ? QStringLiteral("is not at") : QStringLiteral("lacks")))
            << text.toStdString();
    }
    FreeIcmpLibrary();
}

class NetcapAsNobodyTest : public testing::TestWithParam<const char*> {};

TEST_P(NetcapAsNobodyTest, Unprivileged)
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
    chmod(dir, 0755);
    const std::string expect = GetParam(), helper = std::string(dir) + "/quorlix-netcap";
    const std::string copy = "cp " + kHelper + " " + helper;
    const std::string prepare = expect == "missing"   ? "true"
                                : expect == "refused" ? copy
                                                      : copy + " && setcap cap_net_raw,cap_net_admin+ep " + helper;
    char self[4096] = "";
    readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string command = "QUORLIX_NETCAP_TEST_HELPER=" + helper + " QUORLIX_NETCAP_TEST_EXPECT=" + expect +
                                " setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all " + self +
                                " --gtest_filter=AsNobody.* --gtest_brief=1";
    const int prepared = std::system(prepare.c_str());
    const int ran = prepared == 0 ? std::system(command.c_str()) : -1;
    std::system(("rm -rf " + std::string(dir)).c_str());
    EXPECT_EQ(prepared, 0) << prepare;
    EXPECT_EQ(ran, 0) << command;
}

INSTANTIATE_TEST_SUITE_P(Helper, NetcapAsNobodyTest, testing::Values("works", "refused", "missing"),
                         [](const auto& p) { return std::string(p.param); });
