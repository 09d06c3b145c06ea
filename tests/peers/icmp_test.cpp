// Ping, Traceroute and the privilege helper quorlix-netcap in network namespaces (scripts/netns-topology.sh),
// beside Debian's traceroute and ping: h(10.200.1.2) -- r1(10.200.1.1|2.1) -- r2(10.200.2.2|3.1) -- t(10.200.3.2), and
// the same over IPv6 in 2001:db8:1::/64 to 2001:db8:3::/64; the name t.test has both addresses of t, t6.test its IPv6 one.
// InH.* runs in h as root, then with the helper installed, as nobody in the group quorlix ("member") and outside it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "os/PollWait.h"
#include "privilege/CaptureChannel.h"
#include "privilege/SockDiag.h"
#include "support/EchoPageTest.h"
#include "support/PrivilegeTest.h"
#include "support/ScriptedPeer.h"
#include "support/TempFiles.h"
#include "ui/OutputPane.h"
#include "ui/PrivilegeHint.h"

namespace {

const std::string kHelper = QUORLIX_BINARY_DIR "/src/quorlix-netcap";
const char* const kRole = std::getenv("QUORLIX_ROLE");
const std::string kPrefix = kRole ? std::getenv("QUORLIX_PREFIX") : "qx" + std::to_string(getpid()) + "-";
constexpr const char* kTarget = "10.200.3.2";
const std::string k6Target = "2001:db8:3::2";

// A hop line of a trace's pane, its round trip written as WithoutRoundTrips writes it.
std::string Hop(int ttl, std::string address, const char* status)
{
    return (std::to_string(ttl) + "    ").substr(0, 5) + address.append(17 - address.size(), ' ') + "#      " + status + "\r\n";
}

const std::string kThreeHops = Hop(1, "10.200.1.1", "TTL_EXPIRED_TRANSIT") + Hop(2, "10.200.2.2", "TTL_EXPIRED_TRANSIT") +
                               Hop(3, kTarget, "SUCCESS");
const std::string k6ThreeHops = Hop(1, "2001:db8:1::1", "TTL_EXPIRED_TRANSIT") + Hop(2, "2001:db8:2::2", "TTL_EXPIRED_TRANSIT") +
                                Hop(3, k6Target, "SUCCESS");

// Tests run again in h by IcmpTopology.EachRole, as QUORLIX_ROLE says.
#define IN_H_AS(role)                                                                                    \
    if (!kRole || kRole != std::string(role))                                                            \
        GTEST_SKIP() << "run in h by IcmpTopology.EachRole";                                             \
    SetNetcapHelperPath(std::getenv("QUORLIX_NETCAP_HELPER"))

bool Topology(const std::string& args)
{
    return std::system((QUORLIX_SOURCE_DIR "/scripts/netns-topology.sh " + kPrefix + " " + args).c_str()) == 0;
}

// The helper's answer to text on a socket pair, started through prefix (such as setpriv), or how it ended.
std::string AskHelper(const std::string& text, const std::string& prefix)
{
    return CommandOutput("python3 -c 'import socket, subprocess, sys\na, b = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)\n"
                         "p = subprocess.Popen(sys.argv[2:], stdin=b); b.close(); a.settimeout(20)\n"
                         "if sys.argv[1]: a.send(sys.argv[1].encode())\n"
                         "try: r = a.recv(99).decode()\nexcept ConnectionResetError: r = \"\"\n"
                         "p.kill(); print(r or p.wait())' '" + text + "' " + prefix + " " + kHelper);
}

bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

}  // namespace

TEST(IcmpTopology, EachRole)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: builds network namespaces, installs the helper, switches to nobody";
    const InstalledHelperCopy helper;
    const bool up = Topology("up");
    for (const std::string role : {"root", "member", "stranger"}) {
        const std::string env = "QUORLIX_ROLE=" + role + " QUORLIX_PREFIX=" + kPrefix + " QUORLIX_NETCAP_HELPER=" + helper.Path();
        EXPECT_TRUE(up && helper.Ready() && Topology(role == "root" ? "dgram on" : "dgram off") && Topology("unmute-target") &&
                    RunSelf(kPrefix + "h", env, "InH.*", role != "root", role == "member" ? helper.Group() : 0)) << role;
    }
    Topology("down 2>/dev/null");
}

// Each row changes the topology from the one before. Beside each trace a Ping runs: the echoes of both pages
// (and of other programs) are told apart by identifier and sequence. Hops "-": no trace; ping "": an answer with
// its round trip (the page's ping command agrees); asDebian: the page's traceroute command finds the same hops (it goes
// on after a silent hop, we do not); address: a traced name's.
TEST(InH, PingAndTraceAsTheHopsAnswer)
{
    IN_H_AS("root");
    std::string unreachable, unreachable6;  // r1 answers 10.200.9.0/24 with net-unreachable: the trace runs to 254
    for (int ttl = 1; ttl <= 254; ++ttl)
        unreachable += Hop(ttl, "10.200.1.1", "DEST_NET_UNREACHABLE"), unreachable6 += Hop(ttl, "2001:db8:1::1", "DEST_NET_UNREACHABLE");
    const std::string failed = "\tPing Failed!", longHost = "1" + std::string(400, 'x'), cut = longHost.substr(0, 299);
    const std::string invalid = "\tResolving Address For no-such-host.invalid...\r\n\tInvalid Address!\r\n" + failed;
    const struct { std::vector<std::string> steps; std::string traced, hops; bool asDebian; std::string pinged, ping, address = ""; } cases[] = {
        {{"dgram on"}, kTarget, kThreeHops, false, "10.200.2.2", ""},
        {{}, "t6.test", k6ThreeHops, false, k6Target, "", k6Target},  // a name with IPv6 alone
        {{"dgram off"}, kTarget, kThreeHops, true, "127.0.0.1", ""},  // a raw socket sees its own request on loopback
        {{}, k6Target, k6ThreeHops, true, "::1", ""},
        {{}, "t.test", kThreeHops, false, kTarget, "", kTarget},  // IPv4 first
        {{"silence r2"}, kTarget, Hop(1, "10.200.1.1", "TTL_EXPIRED_TRANSIT") + Hop(2, "0.0.0.0", "REQ_TIMED_OUT"), false, kTarget, ""},
        {{}, k6Target, Hop(1, "2001:db8:1::1", "TTL_EXPIRED_TRANSIT") + Hop(2, "::", "REQ_TIMED_OUT"), false, k6Target, ""},
        {{"unsilence r2", "silence r1"}, kTarget,  // a silent first hop is stepped over
         Hop(1, "0.0.0.0", "REQ_TIMED_OUT") + Hop(2, "10.200.2.2", "TTL_EXPIRED_TRANSIT") + Hop(3, kTarget, "SUCCESS"), true,
         longHost, PingHead(cut, "255.255.255.255") + failed},  // the host text's bounded read
        {{"unsilence r1"}, "10.200.9.1", unreachable, false, "10.200.9.1", PingHead("10.200.9.1", "10.200.9.1") + failed},
        {{}, "", "-", false, "", PingHead("10.200.9.1", "10.200.9.1") + failed},  // no host, no query
        {{}, "2001:db8:9::1", unreachable6, false, "2001:db8:9::1", PingHead("2001:db8:9::1", "2001:db8:9::1") + failed},
        {{}, "no-such-host.invalid", "-", false, "no-such-host.invalid", invalid},  // no name server answers from h
        {{"mute-target"}, "", "-", false, kTarget, PingHead(kTarget, kTarget) + failed},
        {{}, "", "-", false, k6Target, PingHead(k6Target, k6Target) + failed},
    };
    PingPage ping;
    for (const auto& c : cases) {
        for (const std::string& step : c.steps)
            ASSERT_TRUE(Topology(step));
        TracePage trace;
        StartQuery(&ping, QString::fromStdString(c.pinged));
        EXPECT_EQ(WithoutRoundTrips(Query(&trace, QString::fromStdString(c.traced), 60000)),
                  c.hops == "-" ? (c.traced.empty() ? "" : invalid) : TraceHead(c.traced, c.address) + c.hops + "\r\nTrace Complete");
        EXPECT_EQ(c.asDebian ? std::regex_replace(c.hops, std::regex(" +(\\S+) .*\r\n"), " $1\n") : "",  // "TTL ADDRESS" lines
                  c.asDebian ? CommandOutput(trace.Pane()->CommandLine() +
                                             " | awk '$1 ~ /^[0-9]+$/ {print $1, ($2 == \"*\" ? \"0.0.0.0\" : $2)}'") : "");
        const std::string pane = Finished(&ping);
        EXPECT_TRUE(c.ping.empty() ? IsPingAnswer(pane, c.pinged) : pane == c.ping) << c.pinged << pane;
        EXPECT_EQ(c.ping.empty(), std::system((ping.Pane()->CommandLine() + " >/dev/null 2>&1").c_str()) == 0) << c.pinged;
    }
    EXPECT_EQ(ComboItems(ping.Item<QComboBox>(EchoToolPage::kHostBox)),
              QStringList({"no-such-host.invalid", "2001:db8:9::1", "10.200.9.1", QString::fromStdString(cut), kTarget,
                           "::1", "127.0.0.1", "2001:db8:3::2", "10.200.2.2"}));
}

// Each request kind, asked by a member and by a stranger; the stranger is told once how to join.
TEST(InH, HelperServesMembersAlone)
{
    const bool member = kRole && kRole == std::string("member");
    IN_H_AS(member ? "member" : "stranger");
    ASSERT_LT(socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP), 0);  // or the helper would not be asked
    MessageRecorder messages;
    PingPage ping;
    TracePage trace;
    for (const auto& [target, hops, none] : {std::tuple(std::string(kTarget), kThreeHops, "0.0.0.0"), {k6Target, k6ThreeHops, "::"}}) {
        const std::string pane = Query(&ping, QString::fromStdString(target));
        EXPECT_TRUE(member ? IsPingAnswer(pane, target) : pane == PingHead(target, target) + "\tPing Failed!") << pane;
        const std::string failures = Hop(1, none, "GENERAL_FAILURE") + Hop(2, none, "GENERAL_FAILURE");
        EXPECT_EQ(WithoutRoundTrips(Query(&trace, QString::fromStdString(target))), TraceHead(target) + (member ? hops : failures) + "\r\nTrace Complete");
    }

    std::uint16_t port = 0, otherPort = 0, listenPort = 0, clientPort = 0;
    const int sender = UdpSocket(otherPort), receiver [[maybe_unused]] = UdpSocket(port);
    CaptureChannel channel;
    EXPECT_EQ(channel.Open("lo", {CaptureProtocol::Udp, PortDirection::Destination, port}, nullptr), member);
    SendUdp(sender, "127.0.0.1", port, "the known payload");
    SendUdp(sender, "127.0.0.1", otherPort, "another port");
    std::string payloads;  // the UDP payloads, each once: loopback's outgoing copy stays out
    std::uint8_t frame[kCaptureFrameMax];
    PacketFrameInfo info;
    for (long n = 0; n >= 0 && WaitForFd(channel.Fd(), POLLIN, nullptr, 500) == WaitResult::Ready;)
        while ((n = channel.ReadFrame(frame, sizeof frame, info)) > 28)
            payloads += std::string(reinterpret_cast<char*>(frame) + 28, std::size_t(n) - 28) + ";";
    EXPECT_EQ(payloads, member ? "the known payload;" : "");
    channel.Close();

    const int listener = ListenTcp("127.0.0.1", listenPort);
    const int client = ConnectTcp(listenPort, clientPort), server = accept(listener, nullptr, nullptr);
    const TcpKillResult r = KillTcpConnection({htonl(INADDR_LOOPBACK), clientPort, htonl(INADDR_LOOPBACK), listenPort});
    EXPECT_EQ(std::tuple(r.failure, r.error, SocketError(client), SocketError(server), NoChildLeft()),
              member ? std::tuple(PrivilegeFailure::None, 0, ECONNABORTED, ECONNRESET, true)
                     : std::tuple(PrivilegeFailure::HelperDenied, 0, EAGAIN, EAGAIN, true));
    EXPECT_EQ(messages.Texts(), member ? QStringList()
                                       : QStringList(PrivilegeHintText(PrivilegedOperation::Echo, PrivilegeFailure::HelperDenied)));
}

// The helper asked directly, by root: what it answers, and that it ends a run nobody asks anything of. The set-up
// grants nothing that anyone but root could swap: no link, even to the helper, and nothing in or below a directory
// its group may write. Whatever a helper does, the program holds no descriptor it did not ask for, and no helper
// is left behind.
TEST(NetcapHelper, AnswersAndTrustsOnlyItsOwn)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the helper runs here with root's capabilities";
    // request, started through, answer and end
    const std::tuple<std::string, std::string, std::string> asked[] = {
        {"echo\n", "", "ok\n\n"},
        {"capture qxnosuch0 0 0 80\n", "", "error 19\n\n"},  // ENODEV
        {"echo \n", "", "error 22\n\n"},                     // EINVAL
        {"", "", "-14\n"},                                   // no request: its alarm ends it
        {"", "env --ignore-signal=ALRM --block-signal=ALRM", "-14\n"},  // even when its caller silenced the alarm
        {"echo\n", "setpriv --reuid=nobody --regid=nogroup --clear-groups", "2\n"},  // another user's pair
    };
    for (const auto& [text, prefix, answer] : asked)
        EXPECT_EQ(AskHelper(text, prefix), answer) << text << prefix;

    const TempFiles files("netcap-helpers");
    const std::string top = files.Path("setup"), setUp = QUORLIX_SOURCE_DIR "/scripts/setup-helper.sh --sanitized-copy ";
    ASSERT_EQ(std::system(("install -d -m 775 " + top + "/open && mkdir " + top + "/open/below && ln -s " + kHelper + " " + top +
                           "/link").c_str()), 0);
    for (const auto& [helper, dir] : {std::pair{top + "/link", top}, {kHelper, top + "/open"}, {kHelper, top + "/open/below"}})
        EXPECT_TRUE(std::system((setUp + helper + " " + dir + " 2>/dev/null").c_str()) != 0 &&
                    !std::filesystem::exists(dir + "/quorlix-netcap")) << dir;

    const std::string twoFds = files.Write("two-fds", "#!/usr/bin/python3\nimport socket, time\ns = socket.socket(fileno=0)\n"
                                                      "s.recv(99)\nsocket.send_fds(s, [b'ok\\n'], [1, 2])\ntime.sleep(30)\n");
    std::filesystem::permissions(twoFds, std::filesystem::perms::owner_all);
    CancelToken stopped;
    stopped.Cancel();
    auto openFds = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto open = openFds();
    const std::tuple<std::string, const CancelToken*, PrivilegeFailure> cases[] = {
        {twoFds, nullptr, PrivilegeFailure::HelperFailed},
        {"/usr/bin/tail", &stopped, PrivilegeFailure::HelperFailed},  // one that never answers ends with the task
        {files.Path("none"), nullptr, PrivilegeFailure::HelperMissing},
        {std::filesystem::relative(kHelper), nullptr, PrivilegeFailure::HelperMissing},  // never a relative path
    };
    for (const auto& [helper, token, failure] : cases) {
        SetNetcapHelperPath(helper);
        NetcapSession s = OpenNetcapSession(NetcapRequest{NetcapKind::Echo}, token);
        EXPECT_EQ(std::tuple(s.failure, s.fd.Get(), s.pid, openFds()), std::tuple(failure, -1, -1, open)) << helper;
    }
    EXPECT_TRUE(NoChildLeft());  // not even a zombie
}
