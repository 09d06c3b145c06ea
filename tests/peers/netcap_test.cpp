// The privilege helper quorlix-netcap, installed as it would be (root:quorlix,
// 0750, cap_net_raw,cap_net_admin), used from a network namespace of the
// test's own (scripts/netns-topology.sh, in h) by nobody as a member of the
// group, by nobody outside it, and bypassed by root, who does the same work
// through the same code. A member may ping, trace, capture and kill an
// established connection, and nothing more: no listener, no other state, no
// socket of the helper's in its hands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/ip.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/PrivilegeHint.h"
#include "capture/CaptureFilter.h"
#include "platform/CancelToken.h"
#include "platform/CaptureChannel.h"
#include "platform/IcmpLibrary.h"
#include "platform/NetcapClient.h"
#include "platform/PollWait.h"
#include "platform/SockDiag.h"
#include "platform/ThreadCancel.h"
#include "support/EchoPageTest.h"
#include "support/PrivilegeTest.h"

namespace {

const std::string kHelper = QUORLIX_BINARY_DIR "/src/quorlix-netcap";
const std::string kPrefix = "qx11-" + std::to_string(getpid()) + "-";
constexpr const char* kTarget = "10.200.3.2";

bool Topology(const std::string& args)
{
    return std::system((QUORLIX_SOURCE_DIR "/scripts/netns-topology.sh " + kPrefix + " " + args).c_str()) == 0;
}

// Runs program (the helper, or a stand-in) with text as its one request on
// its standard input, through prefix (a command such as setpriv) when given:
// its answer as it came, or "nothing" when it closed without one.
std::string AskRaw(const std::string& text, const std::string& program = kHelper,
                   std::vector<std::string> prefix = {})
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return "socketpair";
    prefix.push_back(program);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pair[1], 0);
        std::vector<char*> argv;
        for (std::string& arg : prefix)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pair[1]);
    if (!text.empty())
        send(pair[0], text.data(), text.size(), 0);
    char buffer[128];
    const ssize_t n = recv(pair[0], buffer, sizeof buffer, 0);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(pair[0]);
    return n > 0 ? std::string(buffer, std::size_t(n)) : "nothing";
}

int OpenDescriptors()
{
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator()));
}

}  // namespace

TEST(NetcapHelper, RefusesAnythingElse)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the helper runs here with root's capabilities";
    const std::pair<std::string, std::string> cases[] = {
        {"echo\n", "ok\n"},
        {"capture qxnosuch0 0 0 80\n", "error 19\n"},  // ENODEV
        {"echo extra\n", "error 22\n"},
        {"icmp\n", "error 22\n"},          // the old hand-over requests are gone
        {"packet lo\n", "error 22\n"},
        {"capture ../lo 0 0 80\n", "error 22\n"},
        {"capture lo 0 0 4294967376\n", "error 22\n"},
        {"kill 127.0.0.1 1 127.0.0.1\n", "error 22\n"},
        {std::string(300, 'i'), "error 22\n"},
    };
    for (const auto& [text, answer] : cases)
        EXPECT_EQ(AskRaw(text), answer) << text;

    // A helper started by one user for a socket pair of another answers nothing.
    EXPECT_EQ(AskRaw("echo\n", kHelper, {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"}),
              "nothing");
}

TEST(NetcapHelper, EndsItselfWithoutARequest)
{
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pair[1], 0);
        execl(kHelper.c_str(), kHelper.c_str(), nullptr);
        _exit(127);
    }
    close(pair[1]);
    int status = 0;
    for (int waited = 0; waited < 300 && waitpid(pid, &status, WNOHANG) == 0; ++waited)
        usleep(100'000);
    if (kill(pid, SIGKILL) == 0)
        waitpid(pid, &status, 0);
    close(pair[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << status;
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
    pause();  // until the program ends us
}

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
    stopped.Cancel();
    const int open = OpenDescriptors();
    // helper, token, what the program gets
    const std::tuple<std::string, const CancelToken*, PrivilegeFailure> cases[] = {
        {twoFds, nullptr, PrivilegeFailure::HelperFailed},
        {silent, &stopped, PrivilegeFailure::HelperFailed},  // one that never answers is ended when the task stops
        {std::string(dir) + "/none", nullptr, PrivilegeFailure::HelperMissing},
        {"quorlix-netcap", nullptr, PrivilegeFailure::HelperMissing},  // never looked up in the current directory
    };
    for (const auto& [helper, token, failure] : cases) {
        SetNetcapHelperPath(helper);
        NetcapSession s = OpenNetcapSession(NetcapRequest{NetcapKind::Echo}, token);
        EXPECT_EQ(std::tuple(s.failure, s.fd, s.pid), std::tuple(failure, -1, -1)) << helper;
        EXPECT_EQ(OpenDescriptors(), open) << helper;
    }
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child left, not even a zombie
    EXPECT_EQ(errno, ECHILD);

    SetNetcapHelperPath(before);
    std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------------------
// The caller's side, run by NetcapNamespaceTest in namespace h as
// QUORLIX_NETCAP_ROLE: "member" (nobody in the group quorlix), "outsider"
// (nobody outside it) or "direct" (root, who needs no helper), with the
// helper copy QUORLIX_NETCAP_HELPER.

namespace {

std::string Role()
{
    const char* role = std::getenv("QUORLIX_NETCAP_ROLE");
    return role ? role : "";
}

#define SKIP_UNLESS_ROLE(...)                                                                   \
    do {                                                                                        \
        const std::string role_ = Role();                                                       \
        bool wanted_ = false;                                                                   \
        for (const char* r : {__VA_ARGS__})                                                     \
            wanted_ = wanted_ || role_ == r;                                                    \
        if (!wanted_)                                                                           \
            GTEST_SKIP() << "run in its namespace by NetcapNamespaceTest";                      \
        SetNetcapHelperPath(std::getenv("QUORLIX_NETCAP_HELPER"));                              \
    } while (0)

// No descriptor of this process is a packet or raw socket, or can be made to
// act as one: rebinding to an interface, promiscuous mode, IP_HDRINCL.
void ExpectNoPrivilegedSocketHeld()
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename());
        int domain = -1, type = -1;
        socklen_t length = sizeof domain;
        if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
            continue;  // no socket
        length = sizeof type;
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
        EXPECT_NE(domain, AF_PACKET) << fd;
        EXPECT_NE(type, SOCK_RAW) << fd;
        sockaddr_ll everywhere{};
        everywhere.sll_family = AF_PACKET;
        everywhere.sll_protocol = htons(ETH_P_ALL);
        EXPECT_NE(bind(fd, reinterpret_cast<sockaddr*>(&everywhere), sizeof everywhere), 0) << fd;
        packet_mreq promiscuous{};
        promiscuous.mr_ifindex = 1;
        promiscuous.mr_type = PACKET_MR_PROMISC;
        EXPECT_NE(setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous), 0) << fd;
        int on = 1;
        EXPECT_NE(setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof on), 0) << fd;
    }
}

TcpConnectionAddress Loopback(std::uint16_t localPort, std::uint16_t remotePort)
{
    return {htonl(INADDR_LOOPBACK), localPort, htonl(INADDR_LOOPBACK), remotePort};
}

int ReceiveError(int fd)
{
    char byte;
    return recv(fd, &byte, 1, 0) < 0 ? errno : 0;
}

}  // namespace

TEST(AsCaller, KillsOnlyAnEstablishedConnection)
{
    SKIP_UNLESS_ROLE("member", "direct");
    struct Listener {
        const char* address;
        int fd;
        std::uint16_t port;
    } listeners[] = {{"127.0.0.1", -1, 0}, {"0.0.0.0", -1, 0}, {"::", -1, 0}};
    for (Listener& l : listeners)
        ASSERT_GE(l.fd = ListenTcp(l.address, l.port), 0) << l.address;

    // A connection its client half closed: the server's end waits in CLOSE_WAIT.
    std::uint16_t halfPort = 0;
    const int half = ConnectTcp(listeners[0].port, halfPort);
    const int halfServer = accept(listeners[0].fd, nullptr, nullptr);
    shutdown(half, SHUT_WR);
    usleep(50'000);

    // connection, the error expected
    const std::tuple<const char*, TcpConnectionAddress, int> refused[] = {
        {"listener 127.0.0.1, made-up remote end", Loopback(listeners[0].port, 1), ENOENT},
        {"listener 0.0.0.0, made-up remote end", Loopback(listeners[1].port, 1), ENOENT},
        {"listener [::], made-up remote end", Loopback(listeners[2].port, 1), ENOENT},
        {"CLOSE_WAIT", Loopback(listeners[0].port, halfPort), ENOTCONN},
        {"nothing there", Loopback(1, 2), ENOENT},
    };
    for (const auto& [name, connection, error] : refused) {
        const TcpKillResult r = KillTcpConnection(connection);
        EXPECT_EQ(std::tuple(r.failure, r.error), std::tuple(PrivilegeFailure::None, error)) << name;
    }
    EXPECT_EQ(ReceiveError(halfServer), 0);  // still there: reads the end of the stream

    // Every listener still takes connections, and its established ones die at a kill.
    for (Listener& l : listeners) {
        std::uint16_t localPort = 0;
        const int client = ConnectTcp(l.port, localPort);
        const int server = accept(l.fd, nullptr, nullptr);
        ASSERT_GE(server, 0) << l.address;
        const TcpKillResult r = KillTcpConnection(Loopback(localPort, l.port));
        EXPECT_EQ(std::tuple(r.failure, r.error), std::tuple(PrivilegeFailure::None, 0)) << l.address;
        EXPECT_EQ(ReceiveError(client), ECONNABORTED) << l.address;
        EXPECT_EQ(ReceiveError(server), ECONNRESET) << l.address;  // the peer sees a reset
        EXPECT_EQ(KillTcpConnection(Loopback(localPort, l.port)).error, ENOENT) << l.address;  // gone
        for (int fd : {client, server, l.fd})
            close(fd);
    }
    for (int fd : {half, halfServer})
        close(fd);
}

namespace {

// The UDP payloads of the frames the channel delivers until it is quiet for quietMs.
std::vector<std::string> CapturedPayloads(CaptureChannel& channel, int quietMs = 500)
{
    std::vector<std::string> payloads;
    std::uint8_t frame[kCaptureFrameMax];
    while (WaitForFd(channel.Fd(), POLLIN, nullptr, quietMs) == WaitResult::Ready) {
        long n;
        while ((n = channel.ReadFrame(frame, sizeof frame)) > 0) {
            const std::size_t udp = std::size_t(frame[0] & 0x0F) * 4;
            payloads.push_back(frame[9] == IPPROTO_UDP && std::size_t(n) > udp + 8
                                   ? std::string(reinterpret_cast<char*>(frame) + udp + 8, std::size_t(n) - udp - 8)
                                   : "(not UDP)");
        }
        if (n < 0)
            break;
    }
    return payloads;
}

}  // namespace

TEST(AsCaller, CapturesOnlyWhatItAsked)
{
    SKIP_UNLESS_ROLE("member", "direct");
    std::uint16_t port = 0, otherPort = 0;
    const int receiver = UdpSocket(port), sender = UdpSocket(otherPort);
    CaptureChannel channel;
    ASSERT_TRUE(channel.Open("lo", CaptureFilterSettings{2, 2, port}, nullptr))
        << int(channel.Failure()) << " " << channel.Error();
    SendUdp(sender, "127.0.0.1", port, "the known payload");
    SendUdp(sender, "127.0.0.1", otherPort, "another port");
    SendUdp(sender, "10.200.1.1", port, "another interface");  // out through h0, never lo
    // Once: loopback's outgoing copy stays out.
    EXPECT_EQ(CapturedPayloads(channel), std::vector<std::string>{"the known payload"});
    if (Role() == "member")
        ExpectNoPrivilegedSocketHeld();
    channel.Close();
    EXPECT_EQ(channel.Drops(), 0u);
    for (int fd : {receiver, sender})
        close(fd);
}

namespace {

// An IPv4 packet from 127.0.0.1 to itself: header (with words of NOP options
// after the first five), then ports of a transport header; checksums left
// wrong, so that nothing answers it.
std::vector<std::uint8_t> Packet(std::uint8_t protocol, std::uint16_t source, std::uint16_t destination,
                                 int optionWords = 0, std::uint16_t fragment = 0)
{
    const std::size_t header = 20 + std::size_t(optionWords) * 4;
    std::vector<std::uint8_t> p(header + 20 + 8, 0);
    p[0] = std::uint8_t(0x40 | (header / 4));
    p[2] = std::uint8_t(p.size() >> 8);
    p[3] = std::uint8_t(p.size());
    p[6] = std::uint8_t(fragment >> 8);
    p[7] = std::uint8_t(fragment);
    p[8] = 64;
    p[9] = protocol;
    std::memcpy(&p[12], "\x7f\0\0\x01\x7f\0\0\x01", 8);
    std::fill(p.begin() + 20, p.begin() + std::ptrdiff_t(header), 0x01);
    p[header] = std::uint8_t(source >> 8);
    p[header + 1] = std::uint8_t(source);
    p[header + 2] = std::uint8_t(destination >> 8);
    p[header + 3] = std::uint8_t(destination);
    p[header + 6] = 0x12;  // UDP: a wrong checksum; TCP: part of the sequence number
    if (protocol == IPPROTO_TCP)
        p[header + 13] = 0x04;  // RST: never answered
    return p;
}

}  // namespace

// The kernel filter keeps what the capture's own filter keeps, behind a
// header of any length, and skips what it never could: other protocols,
// ports and directions, later fragments, loopback's outgoing copies.
TEST(AsCaller, FilterKeepsWhatTheCaptureKeeps)
{
    SKIP_UNLESS_ROLE("direct");
    constexpr std::uint16_t P = 7011, Q = 7012;
    const CaptureFilterSettings either{0, 0, P}, tcpSource{1, 1, P}, udpDestination{2, 2, P}, unknown{3, 0, P};
    struct Row {
        const char* name;
        CaptureFilterSettings settings;
        std::vector<std::uint8_t> packet;
        bool kept;
    } rows[] = {
        {"either port, UDP source", either, Packet(IPPROTO_UDP, P, Q), true},
        {"either port, TCP destination", either, Packet(IPPROTO_TCP, Q, P), true},
        {"either port, neither", either, Packet(IPPROTO_UDP, Q, Q), false},
        {"either port, ICMP", either, Packet(IPPROTO_ICMP, P, P), false},
        {"TCP source, TCP source", tcpSource, Packet(IPPROTO_TCP, P, Q), true},
        {"TCP source, TCP destination", tcpSource, Packet(IPPROTO_TCP, Q, P), false},
        {"TCP source, UDP source", tcpSource, Packet(IPPROTO_UDP, P, Q), false},
        {"UDP destination, UDP destination", udpDestination, Packet(IPPROTO_UDP, Q, P), true},
        {"UDP destination, UDP source", udpDestination, Packet(IPPROTO_UDP, P, Q), false},
        {"header with options", udpDestination, Packet(IPPROTO_UDP, Q, P, 2), true},
        {"first fragment", udpDestination, Packet(IPPROTO_UDP, Q, P, 0, 0x2000), true},
        {"later fragment", udpDestination, Packet(IPPROTO_UDP, Q, P, 0, 0x2001), false},
        {"unknown protocol setting", unknown, Packet(IPPROTO_UDP, P, P), false},
    };
    const int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    ASSERT_GE(raw, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const Row& row : rows) {
        int error = 0;
        const int fd = OpenPacketCapture("lo", row.settings, error);
        ASSERT_GE(fd, 0) << row.name << ": " << error;
        ASSERT_EQ(sendto(raw, row.packet.data(), row.packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  ssize_t(row.packet.size()))
            << row.name;
        std::vector<std::size_t> sizes;
        std::uint8_t frame[kCaptureFrameMax];
        while (WaitForFd(fd, POLLIN, nullptr, 200) == WaitResult::Ready) {
            long n = ReadPacketFrame(fd, true, frame, sizeof frame);
            if (n > 0)
                sizes.push_back(std::size_t(n));
        }
        EXPECT_EQ(sizes, row.kept ? std::vector<std::size_t>{row.packet.size()} : std::vector<std::size_t>{})
            << row.name;
        close(fd);
    }
    close(raw);
}

TEST(AsCaller, PingsAndTracesThroughTheHelper)
{
    SKIP_UNLESS_ROLE("member");
    // Neither socket of its own may work, or the helper would not be asked.
    ASSERT_LT(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP), 0);
    ASSERT_LT(socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP), 0);
    LoadIcmpLibrary();
    const IcmpHandle handle = GuardedIcmpCreateFile();
    ASSERT_NE(handle, kInvalidIcmpHandle);
    ExpectNoPrivilegedSocketHeld();
    GuardedIcmpCloseHandle(handle);

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
    FreeIcmpLibrary();
}

// STOP during an echo through the helper ends the wait at once, and closing
// the echo ends the helper.
TEST(AsCaller, StopsAnEchoThroughTheHelper)
{
    SKIP_UNLESS_ROLE("member");
    LoadIcmpLibrary();
    const IcmpHandle handle = GuardedIcmpCreateFile();
    ASSERT_NE(handle, kInvalidIcmpHandle);
    CancelToken stop;
    std::uint8_t reply[sizeof(IcmpEchoReply) + 64];
    std::uint32_t records = 1;
    std::thread echo([&] {
        ThreadCancelScope scope(&stop);
        // Nobody on h's link has this address: no answer for seconds.
        records = GuardedIcmpSendEcho(handle, inet_addr("10.200.1.77"), nullptr, 0, nullptr, reply, sizeof reply,
                                      10000);
    });
    usleep(300'000);
    stop.Cancel();
    echo.join();
    IcmpEchoReply record;
    std::memcpy(&record, reply, sizeof record);
    EXPECT_EQ(std::tuple(records, record.Status), std::tuple(0u, kIpReqTimedOut));
    GuardedIcmpCloseHandle(handle);
    FreeIcmpLibrary();
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no helper left
    EXPECT_EQ(errno, ECHILD);
}

TEST(AsCaller, OutsiderIsToldHowToJoin)
{
    SKIP_UNLESS_ROLE("outsider");
    LoadIcmpLibrary();
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
    FreeIcmpLibrary();

    CaptureChannel channel;
    EXPECT_FALSE(channel.Open("lo", CaptureFilterSettings{0, 0, 80}, nullptr));
    EXPECT_EQ(channel.Failure(), PrivilegeFailure::HelperDenied);
    EXPECT_EQ(KillTcpConnection(Loopback(1, 2)).failure, PrivilegeFailure::HelperDenied);

    // operation, what its words name
    const std::pair<PrivilegedOperation, const char*> operations[] = {
        {PrivilegedOperation::Echo, "Ping and Traceroute need an ICMP socket"},
        {PrivilegedOperation::Capture, "Packet Capture needs a packet socket"},
        {PrivilegedOperation::Kill, "Killing a connection needs cap_net_admin"},
    };
    for (const auto& [operation, words] : operations) {
        const QString text = PrivilegeHintText(operation, PrivilegeFailure::HelperDenied);
        for (const QString& part : {QString::fromLatin1(words), QStringLiteral("members of the group quorlix"),
                                    QStringLiteral("sudo usermod -aG quorlix $USER")})
            EXPECT_TRUE(text.contains(part)) << text.toStdString() << "\nlacks: " << part.toStdString();
    }
}

// ---------------------------------------------------------------------------

// Builds the topology, turns h's ICMP datagram sockets off, installs the
// helper copy, and runs the caller's side in h as each role.
class NetcapNamespaceTest : public testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0)
            return;
        up_ = Topology("up") && Topology("dgram off");
        helper_ = new InstalledHelperCopy;
    }
    static void TearDownTestSuite()
    {
        delete helper_;
        helper_ = nullptr;
        if (geteuid() == 0)
            Topology("down");
    }
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: builds network namespaces, installs the helper, switches to nobody";
        ASSERT_TRUE(up_);
        ASSERT_TRUE(helper_->Ready());
    }

    static inline bool up_ = false;
    static inline InstalledHelperCopy* helper_ = nullptr;
};

TEST_P(NetcapNamespaceTest, Caller)
{
    const std::string role = GetParam();
    EXPECT_TRUE(RunSelf(kPrefix + "h", "QUORLIX_NETCAP_ROLE=" + role + " QUORLIX_NETCAP_HELPER=" + helper_->Path(),
                        "AsCaller.*", role != "direct", role == "member" ? helper_->Group() : 0));
}

INSTANTIATE_TEST_SUITE_P(Role, NetcapNamespaceTest, testing::Values("member", "outsider", "direct"),
                         [](const auto& p) { return std::string(p.param); });
