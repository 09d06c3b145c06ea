// The privilege helper quorlix-netcap, installed as it would be, used in a namespace of the test's own by
// nobody in the group quorlix, by nobody outside it, and bypassed by root. A member may ping, trace, capture
// and kill an established connection, and nothing more: no listener, no other state, no socket of the helper's.
#include <gtest/gtest.h>
#include <netinet/ip.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "icmp/EchoProbe.h"
#include "net/CaptureFilter.h"
#include "os/CancelToken.h"
#include "os/PollWait.h"
#include "privilege/CaptureChannel.h"
#include "privilege/NetcapClient.h"
#include "privilege/SockDiag.h"
#include "support/CaptureTraffic.h"
#include "support/EchoPageTest.h"
#include "support/PrivilegeTest.h"
#include "support/TempFiles.h"
#include "ui/PrivilegeHint.h"

namespace {

const std::string kHelper = QUORLIX_BINARY_DIR "/src/quorlix-netcap";
const std::string kPrefix = "qx11-" + std::to_string(getpid()) + "-";
constexpr const char* kTarget = "10.200.3.2";

// Runs the helper with text as its one request, through prefix (such as setpriv) when given: its answer,
// "alarm" when it ended itself by its alarm, or "nothing" when it closed without one. An opened capture gets
// UDP frames from port 16384 (as a header of length 0 reads) and adds what it relayed, by kind and payload.
std::string AskRaw(const std::string& text, const std::string& prefix = "")
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return "socketpair";
    const timeval bound{30, 0};  // so that a helper that never ends fails the test instead of hanging it
    setsockopt(pair[0], SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    const std::string command = "exec " + prefix + " " + kHelper;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pair[1], 0);
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    close(pair[1]);
    if (!text.empty())
        send(pair[0], text.data(), text.size(), 0);
    char buffer[128];
    const ssize_t n = recv(pair[0], buffer, sizeof buffer, 0);
    std::string relayed;
    if (n == 3 && text.starts_with("capture")) {
        std::vector<Ipv4Frame> frames(3, {.protocol = 17, .dest = 0x7F140002, .sourcePort = 16384, .payload = "good"});
        frames[0].versionIhl = 0x65, frames[0].payload = "bad6";  // version 6
        frames[1].versionIhl = 0x40, frames[1].payload = "bad0";  // header length 0
        SendFrames(frames, "lo");
        for (ssize_t m; WaitForFd(pair[0], POLLIN, nullptr, 500) == WaitResult::Ready &&
                        (m = recv(pair[0], buffer + 3, sizeof buffer - 3, 0)) >= 5;)
            relayed += buffer[3] + std::string(buffer + 3 + m - 4, 4);
    }
    int status = 0;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    close(pair[0]);
    if (n > 0)
        return std::string(buffer, std::size_t(n)) + relayed;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM ? "alarm" : "nothing";
}

int OpenDescriptors()
{
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

}  // namespace

TEST(NetcapHelper, AnswersOnlyItsOwnRequests)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the helper runs here with root's capabilities";
    // request, started through, answer
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"echo\n", "", "ok\n"},
        {"capture qxnosuch0 0 0 80\n", "", "error 19\n"},  // ENODEV
        {"capture lo 2 1 16384\n", "", "ok\nFgood"},  // only a sound IP header passes the kernel's filter
        {"", "", "alarm"},  // no request: it ends itself
        {"", "env --ignore-signal=ALRM --block-signal=ALRM", "alarm"},  // even when its caller silenced the alarm
        // A helper started by one user for a socket pair of another answers nothing.
        {"echo\n", "setpriv --reuid=nobody --regid=nogroup --clear-groups", "nothing"},
    };
    for (const auto& [text, prefix, answer] : cases)
        EXPECT_EQ(AskRaw(text, prefix), answer) << text << prefix;
}

// The set-up grants nothing that anyone but root could swap: no link, even to the helper, and nothing in or
// below a directory its group may write.
TEST(NetcapSetUp, RefusesWhatOthersCouldSwap)
{
    const std::string top = QUORLIX_BINARY_DIR "/setup-refusals-" + std::to_string(getpid());
    std::filesystem::create_directories(top + "/open/below");
    std::filesystem::permissions(top + "/open", std::filesystem::perms(0775));
    std::filesystem::create_symlink(kHelper, top + "/link");
    for (const auto& [helper, dir] :
         {std::pair{top + "/link", top}, {kHelper, top + "/open"}, {kHelper, top + "/open/below"}}) {
        const std::string setUp = QUORLIX_SOURCE_DIR "/scripts/setup-helper.sh --sanitized-copy " + helper + " " + dir;
        EXPECT_NE(std::system((setUp + " 2>/dev/null").c_str()), 0) << setUp;
        EXPECT_FALSE(std::filesystem::exists(dir + "/quorlix-netcap")) << setUp;
    }
    std::filesystem::remove_all(top);
}

// A helper gone wrong, played by this program for NetcapClient.ClosesWhatABrokenHelperSends:
// answers "ok\n" with two descriptors, where none may come.
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
    msghdr msg{nullptr, 0, &iov, 1, control, sizeof control, 0};
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    *c = cmsghdr{CMSG_LEN(sizeof fds), SOL_SOCKET, SCM_RIGHTS};
    std::memcpy(CMSG_DATA(c), fds, sizeof fds);
    EXPECT_EQ(sendmsg(0, &msg, 0), 3);
    pause();  // until the program ends us
}

// Whatever a helper does, the program holds no descriptor it did not ask for, and no helper is left behind.
TEST(NetcapClient, ClosesWhatABrokenHelperSends)
{
    const TempFiles files("netcap-helpers");
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string twoFds = files.Write("two-fds", "#!/bin/sh\nQUORLIX_NETCAP_FAKE_HELPER=1 exec " + self +
                                                          " --gtest_filter=FakeHelper.* >/dev/null 2>&1\n");
    const std::string silent = files.Write("silent", "#!/bin/sh\nexec sleep 30\n");
    for (const std::string& script : {twoFds, silent})
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string before = NetcapHelperPath();

    CancelToken stopped;
    stopped.Cancel();
    const int open = OpenDescriptors();
    // helper, token, what the program gets
    const std::tuple<std::string, const CancelToken*, PrivilegeFailure> cases[] = {
        {twoFds, nullptr, PrivilegeFailure::HelperFailed},
        {silent, &stopped, PrivilegeFailure::HelperFailed},  // one that never answers is ended when the task stops
        {files.Path("none"), nullptr, PrivilegeFailure::HelperMissing},
        {"quorlix-netcap", nullptr, PrivilegeFailure::HelperMissing},  // never looked up in the current directory
    };
    for (const auto& [helper, token, failure] : cases) {
        SetNetcapHelperPath(helper);
        NetcapSession s = OpenNetcapSession(NetcapRequest{NetcapKind::Echo}, token);
        EXPECT_EQ(std::tuple(s.failure, s.fd.Get(), s.pid), std::tuple(failure, -1, -1)) << helper;
        EXPECT_EQ(OpenDescriptors(), open) << helper;
    }
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child left, not even a zombie
    EXPECT_EQ(errno, ECHILD);

    SetNetcapHelperPath(before);
}

// The caller's side, run by NetcapNamespaceTest in namespace h as QUORLIX_NETCAP_ROLE: "member" (nobody in
// the group quorlix), "outsider" (nobody outside it) or "direct" (root, who needs no helper).

namespace {

bool IsRole(std::initializer_list<std::string_view> roles)
{
    const char* role = std::getenv("QUORLIX_NETCAP_ROLE");
    return role && std::ranges::find(roles, role) != roles.end();
}

#define SKIP_UNLESS_ROLE(...)                                                   \
    if (!IsRole({__VA_ARGS__}))                                                 \
        GTEST_SKIP() << "run in its namespace by NetcapNamespaceTest";          \
    SetNetcapHelperPath(std::getenv("QUORLIX_NETCAP_HELPER"))

// No descriptor of this process is a packet or raw socket, the only kinds that capture or write IP headers.
void ExpectNoPrivilegedSocketHeld()
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename());
        int domain = -1, type = -1;
        socklen_t length = sizeof domain;
        if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
            continue;  // no socket
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
        EXPECT_NE(domain, AF_PACKET) << fd;
        EXPECT_NE(type, SOCK_RAW) << fd;
    }
}

TcpConnectionAddress Loopback(std::uint16_t localPort, std::uint16_t remotePort)
{
    return {htonl(INADDR_LOOPBACK), localPort, htonl(INADDR_LOOPBACK), remotePort};
}

}  // namespace

TEST(AsCaller, KillsOnlyAnEstablishedConnection)
{
    SKIP_UNLESS_ROLE("member", "direct");
    const char* addresses[] = {"127.0.0.1", "0.0.0.0", "::"};
    int listeners[3];
    std::uint16_t ports[3] = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_GE(listeners[i] = ListenTcp(addresses[i], ports[i]), 0) << addresses[i];

    // A connection its client half closed: the server's end waits in CLOSE_WAIT.
    std::uint16_t halfPort = 0;
    const int half = ConnectTcp(ports[0], halfPort), halfServer = accept(listeners[0], nullptr, nullptr);
    shutdown(half, SHUT_WR);
    usleep(50'000);
    // connection, the error expected; each listener with a made-up remote end
    std::vector<std::tuple<std::string, TcpConnectionAddress, int>> refused = {
        {"CLOSE_WAIT", Loopback(ports[0], halfPort), ENOTCONN}, {"nothing there", Loopback(1, 2), ENOENT}};
    for (int i = 0; i < 3; ++i)
        refused.emplace_back(addresses[i], Loopback(ports[i], 1), ENOENT);
    for (const auto& [name, connection, error] : refused) {
        const TcpKillResult r = KillTcpConnection(connection);
        EXPECT_EQ(std::tuple(r.failure, r.error), std::tuple(PrivilegeFailure::None, error)) << name;
    }
    EXPECT_EQ(SocketError(halfServer), 0);  // still there: reads the end of the stream

    // Every listener still takes connections; an established one dies at a kill, and is gone after it.
    for (int i = 0; i < 3; ++i) {
        std::uint16_t localPort = 0;
        const int client = ConnectTcp(ports[i], localPort), server = accept(listeners[i], nullptr, nullptr);
        ASSERT_GE(server, 0) << addresses[i];
        EXPECT_EQ(KillTcpConnection(Loopback(localPort, ports[i])).error, 0) << addresses[i];
        EXPECT_EQ(std::pair(SocketError(client), SocketError(server)), std::pair(ECONNABORTED, ECONNRESET));
        EXPECT_EQ(KillTcpConnection(Loopback(localPort, ports[i])).error, ENOENT) << addresses[i];
        for (int fd : {client, server, listeners[i]})
            close(fd);
    }
    for (int fd : {half, halfServer})
        close(fd);
}

TEST(AsCaller, CapturesOnlyWhatItAsked)
{
    SKIP_UNLESS_ROLE("member", "direct");
    std::uint16_t port = 0, otherPort = 0;
    const int receiver = UdpSocket(port), sender = UdpSocket(otherPort);
    CaptureChannel channel;
    ASSERT_TRUE(channel.Open("lo", CaptureFilterSettings{CaptureProtocol::Udp, PortDirection::Destination, port}, nullptr))
        << int(channel.Failure()) << " " << channel.Error();
    SendUdp(sender, "127.0.0.1", port, "the known payload");
    SendUdp(sender, "127.0.0.1", otherPort, "another port");
    SendUdp(sender, "10.200.1.1", port, "another interface");  // out through h0, never lo

    // The UDP payloads of what comes until the channel is quiet; once each:
    // loopback's outgoing copy stays out.
    std::vector<std::string> payloads;
    std::uint8_t frame[kCaptureFrameMax];
    long n = 0;
    while (n >= 0 && WaitForFd(channel.Fd(), POLLIN, nullptr, 500) == WaitResult::Ready) {
        while ((n = channel.ReadFrame(frame, sizeof frame)) > 0) {
            const std::size_t udp = std::size_t(frame[0] & 0x0F) * 4 + 8;
            payloads.push_back(frame[9] == IPPROTO_UDP && std::size_t(n) > udp
                                   ? std::string(reinterpret_cast<char*>(frame) + udp, std::size_t(n) - udp)
                                   : "(not UDP)");
        }
    }
    EXPECT_EQ(payloads, std::vector<std::string>{"the known payload"});
    if (IsRole({"member"}))
        ExpectNoPrivilegedSocketHeld();

    // A reader that stalls: the kernel drops what finds no room, and the count comes while the capture runs.
    const std::string bulk(1400, 'b');
    for (int i = 0; i < 20000; ++i)
        SendUdp(sender, "127.0.0.1", port, bulk);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (channel.Drops() == 0 && WaitForFd(channel.Fd(), POLLIN, nullptr, deadline) == WaitResult::Ready)
        while (channel.ReadFrame(frame, sizeof frame) > 0) {
        }
    EXPECT_GT(channel.Drops(), 0u);
    channel.Close();
    for (int fd : {receiver, sender})
        close(fd);
}

TEST(AsCaller, PingsTracesAndStopsThroughTheHelper)
{
    SKIP_UNLESS_ROLE("member");
    // Neither socket of its own may work, or the helper would not be asked.
    ASSERT_LT(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP), 0);
    ASSERT_LT(socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP), 0);
    std::optional<EchoProbe> probe(std::in_place);
    auto echo = [&](const char* to, int timeoutMs, const CancelToken* token = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        return probe->Send({inet_addr(to), 64, {}, deadline}, token).status;
    };
    ASSERT_EQ(echo(kTarget, 2000), EchoStatus::Reply);
    ExpectNoPrivilegedSocketHeld();

    MessageRecorder messages;
    PingPage ping;
    TracePage trace;
    const std::string pane = Query(&ping, kTarget);
    EXPECT_TRUE(IsPingAnswer(pane, kTarget)) << pane;
    static const std::regex roundTrip(R"((\n\d+ +\S+ +)\d+ +)");
    EXPECT_EQ(std::regex_replace(Query(&trace, kTarget), roundTrip, "$1#      "),
              TraceHead(kTarget) +
                  "1    10.200.1.1       #      TTL_EXPIRED_TRANSIT\r\n"
                  "2    10.200.2.2       #      TTL_EXPIRED_TRANSIT\r\n"
                  "3    10.200.3.2       #      SUCCESS\r\n\r\nTrace Complete");
    EXPECT_TRUE(messages.Messages().empty());

    // However short their time-outs, the echoes of one session leave at least 10 ms apart.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i)
        echo(kTarget, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));

    // STOP during an echo nobody answers ends the wait at once; closing the echo ends the helper.
    CancelToken stop;
    EchoStatus status = EchoStatus::Reply;
    std::thread silent([&] { status = echo("10.200.1.77", 10000, &stop); });
    usleep(300'000);
    stop.Cancel();
    silent.join();
    EXPECT_EQ(status, EchoStatus::TimedOut);
    probe.reset();
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no helper left
    EXPECT_EQ(errno, ECHILD);
}

TEST(AsCaller, OutsiderIsToldHowToJoin)
{
    SKIP_UNLESS_ROLE("outsider");
    ResetPrivilegeHints();
    MessageRecorder messages;
    PingPage ping;
    TracePage trace;
    const std::string pingFailed = PingHead(kTarget, kTarget) + "\tPing Failed!";
    EXPECT_EQ(Query(&ping, kTarget), pingFailed);
    EXPECT_EQ(Query(&ping, kTarget), pingFailed);
    EXPECT_EQ(Query(&trace, kTarget), TraceHead(kTarget) +
                                          "1    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                          "2    0.0.0.0          -1     GENERAL_FAILURE\r\n"
                                          "\r\nTrace Complete");
    ASSERT_EQ(messages.Messages().size(), 1u);  // once, whichever page meets it first
    EXPECT_EQ(messages.Messages()[0].kind, MessageKind::Warning);
    EXPECT_EQ(messages.Messages()[0].text, PrivilegeHintText(PrivilegedOperation::Echo, PrivilegeFailure::HelperDenied));

    CaptureChannel channel;
    EXPECT_FALSE(channel.Open("lo", CaptureFilterSettings{{}, {}, 80}, nullptr));
    EXPECT_EQ(channel.Failure(), PrivilegeFailure::HelperDenied);
    EXPECT_EQ(KillTcpConnection(Loopback(1, 2)).failure, PrivilegeFailure::HelperDenied);

    for (const auto& [operation, words] : {std::pair{PrivilegedOperation::Echo, "Ping and Traceroute need an ICMP socket"},
                                           {PrivilegedOperation::Capture, "Packet Capture needs a packet socket"},
                                           {PrivilegedOperation::Kill, "Killing a connection needs cap_net_admin"}}) {
        const std::string text = PrivilegeHintText(operation, PrivilegeFailure::HelperDenied).toStdString();
        for (const std::string part : {words, "members of the group quorlix", "sudo usermod -aG quorlix $USER"})
            EXPECT_NE(text.find(part), std::string::npos) << text << "\nlacks: " << part;
    }
}

// The caller's side in the topology of scripts/netns-topology.sh, h's ICMP datagram sockets off, as each role.
TEST(NetcapNamespaceTest, EachRole)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: builds network namespaces, installs the helper, switches to nobody";
    auto topology = [](const std::string& args) {
        return std::system((QUORLIX_SOURCE_DIR "/scripts/netns-topology.sh " + kPrefix + " " + args).c_str()) == 0;
    };
    const InstalledHelperCopy helper;
    const bool ready = helper.Ready() && topology("up") && topology("dgram off");
    EXPECT_TRUE(ready);
    for (const std::string role : {"member", "outsider", "direct"}) {
        const std::string env = "QUORLIX_NETCAP_ROLE=" + role + " QUORLIX_NETCAP_HELPER=" + helper.Path();
        EXPECT_TRUE(ready && RunSelf(kPrefix + "h", env, "AsCaller.*", role != "direct",
                                     role == "member" ? helper.Group() : 0))
            << role;
    }
    topology("down");
}
