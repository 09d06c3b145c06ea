// NetStat and Net Info engines without a network: the table's text and its read-back, replayed socket dumps and
// /proc tables, the mappings from what Linux reports, and the readers of resolv.conf and lease files.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <net/if_arp.h>
#include <netinet/tcp.h>

#include <cstring>
#include <map>

#include "hostcfg/DhcpLease.h"
#include "hostcfg/ServicesFile.h"
#include "hostinfo/ConnectionTable.h"
#include "hostinfo/NetInfoReports.h"
#include "hostinfo/SocketTable.h"
#include "support/TempFiles.h"

// A dump's reply as the kernel lays it out: a listener on 127.0.0.1 for each port, then NLMSG_DONE, or the error.
std::string DiagDump(const std::vector<int>& ports, bool interrupted = false, int error = 0)
{
    const std::uint16_t flags = NLM_F_MULTI | (interrupted ? NLM_F_DUMP_INTR : 0);
    std::string out;
    auto append = [&](std::uint16_t type, const void* body, std::uint32_t size) {
        const nlmsghdr header{NLMSG_LENGTH(size), type, flags, 0, 0};
        out.append(reinterpret_cast<const char*>(&header), sizeof header).append(static_cast<const char*>(body), size);
        out.resize(NLMSG_ALIGN(out.size()));
    };
    for (int port : ports) {
        inet_diag_msg m{.idiag_family = AF_INET, .idiag_state = TCP_LISTEN};
        m.id.idiag_sport = htons(std::uint16_t(port));
        m.id.idiag_src[0] = inet_addr("127.0.0.1");
        append(SOCK_DIAG_BY_FAMILY, &m, sizeof m);
    }
    const int code = -error;
    append(error ? NLMSG_ERROR : NLMSG_DONE, &code, sizeof code);
    return out;
}

// Replays the AF_INET TCP replies queued, the last one over and over; /proc tables when the dump is not there.
struct ReplaySource : SockDiagSource {
    std::vector<std::string> replies;
    std::map<std::string, std::string> proc;
    std::vector<std::uint32_t> statesAsked;

    int Dump(std::uint8_t family, std::uint8_t, std::uint32_t states, const Chunk& chunk) override
    {
        statesAsked.push_back(states);
        if (proc.size())
            return ENOENT;
        chunk(family == AF_INET && replies.size() ? replies.front() : DiagDump({}));
        if (family == AF_INET && replies.size() > 1)
            replies.erase(replies.begin());
        return 0;
    }
    bool ProcTable(const char* name, std::string* text) override { return proc.contains(name) && (*text = proc[name], true); }
};

const std::string kHeadings = "     Local Address          Remote Address         State           \r\n"
                              "     -------------          --------------         -----           \r\n";

TEST(NetStat, StateNamesWidestLineAndReadBack)
{
    const std::pair<int, const char*> states[] = {{TCP_CLOSE, "CLOSED"}, {TCP_LISTEN, "LISTEN"},
        {TCP_SYN_SENT, "SYN_SENT"}, {TCP_SYN_RECV, "SYN_RCVD"}, {TCP_FIN_WAIT1, "FIN_WAIT1"},
        {TCP_FIN_WAIT2, "FIN_WAIT2"}, {TCP_CLOSE_WAIT, "CLOSE_WAIT"}, {TCP_CLOSING, "CLOSING"},
        {TCP_LAST_ACK, "LAST_ACK"}, {TCP_TIME_WAIT, "TIME_WAIT"}, {13, "UNKNOWN"}};
    char name[14];
    for (auto [kernel, text] : states) {
        TcpStateName(TableStateOf(kernel), name, sizeof name);
        EXPECT_STREQ(name, text) << kernel;
    }
    TcpStateName(5, name, 6);
    EXPECT_STREQ(name, "ESTAB");

    const TcpRow widest{5, inet_addr("255.255.255.255"), htons(65535), inet_addr("255.255.255.254"), htons(65534)};
    const std::string line = "TCP  255.255.255.255:65535  255.255.255.254:65534  ESTABABLISHED";
    const std::vector<TcpRow> rows{widest};
    EXPECT_EQ(ConnectionTableText(&rows, nullptr), kHeadings + line + "\r\nNo Data Available!\r\n");
    TcpRow read;
    ASSERT_TRUE(ReadConnectionLine(line, &read));
    EXPECT_EQ(std::tie(read.state, read.localAddr, read.localPort, read.remoteAddr, read.remotePort),
              std::make_tuple(12u, widest.localAddr, widest.localPort, widest.remoteAddr, widest.remotePort));
    for (const char* other : {"TCP  127.0.0.1:80           127.0.0.1              ESTAB",
                              "TCP  127.0.0.1:65536        127.0.0.1:1            ESTAB",
                              "TCP  127.0.0.1:8x           127.0.0.1:1            ESTAB",
                              "TCP  0x7f.0.0.1:80          127.0.0.1:1            ESTAB"})
        EXPECT_FALSE(ReadConnectionLine(other, &read)) << other;
}

// The IPv4 side of AF_INET6 sockets, as /proc/net gives them on a little-endian host without the diag modules;
// the dumps' own v6-only flag is in the peer test.
TEST(NetStat, ProcTablesShowTheIpv4SideOfDualStackSockets)
{
    ReplaySource proc;
    const std::string any = "00000000000000000000000000000000:";
    proc.proc = {{"tcp", "sl local rem st\n 0: 0100007F:1B59 0100007F:C350 01 0\n"},
                 {"tcp6", "sl local rem st\n 0: " + any + "1F90 " + any + "0000 0A\n"
                          " 1: 0000000000000000FFFF00000100007F:1F90 0000000000000000FFFF00000200007F:A028 01\n"
                          " 2: 00000000000000000000000001000000:2328 " + any + "0000 0A\n"},
                 {"udp", "sl local rem st\n"}, {"udp6", "sl local rem st\n 0: " + any + "14E9 " + any + "0000 07\n"}};
    EXPECT_EQ(ConnectionTableText(proc), kHeadings + "TCP  127.0.0.1:7001         127.0.0.1:50000        ESTABABLISHED\r\n"
                                                     "TCP  0.0.0.0:8080           0.0.0.0:0              LISTEN\r\n"
                                                     "TCP  127.0.0.1:8080         127.0.0.2:41000        ESTABABLISHED\r\n"
                                                     "UDP  0.0.0.0:5353           *.*                    \r\n");
}

// An interrupted dump is read four times at most, then what was read stands; a refusal or a cut reply is no table.
TEST(NetStat, DumpRetriesAndFailures)
{
    const std::string partial = DiagDump({1}, true), whole = DiagDump({2});
    const struct {
        std::vector<std::string> replies;
        size_t dumps;
        int port;  // of the first row; 0: no table
    } cases[] = {{{partial, whole}, 2, 2}, {{partial}, 4, 1}, {{DiagDump({}, true)}, 4, 0},
                 {{DiagDump({}, false, EPERM)}, 1, 0}, {{whole.substr(0, whole.size() - 3)}, 1, 0}};
    for (const auto& c : cases) {
        ReplaySource source;
        source.replies = c.replies;
        std::vector<TcpRow> rows;
        EXPECT_EQ(ReadTcpSockets(&rows, source), c.port > 0);
        EXPECT_EQ(source.statesAsked, std::vector<std::uint32_t>(c.dumps + (c.port > 0), 0x1FFE));  // states 1-12
        if (c.port)
            EXPECT_EQ(rows.at(0).localPort, htons(std::uint16_t(c.port)));
    }
}

TEST(NetInfo, NumbersDatesAndLinuxValues)
{
    for (const auto& [n, text] : {std::pair{999u, "999"}, {1000u, "1,000"}, {4294967295u, "4,294,967,295"}})
        EXPECT_EQ(GroupThousands(n), text);
    const char* const epoch = "Thu Jan 01 00:00:00 1970";
    for (const auto& [seconds, text] : {std::pair<std::int64_t, const char*>{253402300799, "Fri Dec 31 23:59:59 9999"},
                                        {-1, epoch}, {253402300800, epoch}, {INT64_MAX, epoch}})
        EXPECT_EQ(LeaseDateText(seconds), text) << seconds;
    for (const auto& [arphrd, name] : {std::pair<unsigned, const char*>{ARPHRD_IEEE802, "Ethernet"}, {ARPHRD_PPP, "PPP"},
             {ARPHRD_CSLIP6, "SLIP"}, {ARPHRD_FDDI, "FDDI"}, {ARPHRD_IEEE802_TR, "Token Ring"}, {ARPHRD_NONE, "Unknown"}})
        EXPECT_STREQ(AdapterTypeName(AdapterTypeFromArphrd(arphrd)), name) << arphrd;
    const struct {
        const char* operstate;
        unsigned flags;
        const char* name;
    } states[] = {{"up", 0, "Disabled"}, {"lowerlayerdown", IFF_UP, "Disconnected"}, {"dormant", IFF_UP, "Connecting"},
                  {"testing", IFF_UP, "Connecting"}, {"unknown", IFF_UP | IFF_RUNNING, "Connected"},
                  {"unknown", IFF_UP, "Disconnected"}, {"bogus", IFF_UP, "Unknown"}};
    for (const auto& s : states)
        EXPECT_STREQ(OperStatusName(OperStatusFromLinux(s.operstate, s.flags)), s.name) << s.operstate;
    for (const auto& [megabits, bits] : {std::pair<std::int64_t, std::uint32_t>{4294, 4294000000u}, {4295, UINT32_MAX}})
        EXPECT_EQ(SpeedBitsPerSecond(megabits), bits) << megabits;
}

TEST(NetInfo, FailureLinesShortHardwareAddressesAndPortsOutOfRange)
{
    EXPECT_EQ(IpConfigurationReport(std::nullopt).text, "[IP Statistics]\r\n\r\n\tUnable To Get Parameters!\r\n\r\n");
    auto figures = [](unsigned) { return InterfaceFigures{}; };
    const NetInfoReport failed = AdapterInformationReport(std::nullopt, figures);
    EXPECT_EQ(failed.text, "[Adapter Information]\r\n\r\n\tUnable To Get Adapters Info!\r\n\r\n");
    EXPECT_FALSE(failed.complete);
    AdapterRecord tunnel;
    tunnel.address = {0xc0, 0x00, 0x02, 0x01};
    EXPECT_NE(AdapterInformationReport(std::vector{tunnel}, figures).text.find("MAC Address:\t\tc0-00-02-01-00-00\r\n"),
              std::string::npos);
    // The C library would take these modulo 65536.
    EXPECT_TRUE(ParseServices("huge 70000/tcp\nneg -1/tcp\nplus +7/tcp\n").empty());
    EXPECT_EQ(ParseServices("last 65535/udp").at(0).port, 65535);
}

TEST(NetInfo, ResolverAndForwardingFiles)
{
    TempFiles files("netinfo-params");
    const std::string on = files.Write("ip_forward", "1\n"), none = files.Path("none");
    const std::string upstream = files.Write("upstream", "nameserver 198.51.100.1\nnameserver 127.0.0.53\n");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string hostDomain = std::strchr(host, '.') ? std::strchr(host, '.') + 1 : "";
    const struct {
        const char* resolvConf;  // null: no such file
        const std::string& upstream;
        std::string domain;
        std::vector<std::string> servers;
    } cases[] = {
        {"domain a.test\nsearch b.test c.test\nnameserver fe80::1%eth0\nnameserver 192.0.2.7 \n;nameserver 192.0.2.1\n"
         "nameserver 192.0.2.8\n", upstream, "b.test", {"192.0.2.7", "192.0.2.8"}},
        {nullptr, upstream, hostDomain, {}},
        // Behind systemd-resolved's stub, what it forwards to; a second stub adds nothing.
        {"nameserver 127.0.0.53\nnameserver 192.0.2.9\nnameserver 127.0.0.54\n", upstream, hostDomain,
         {"198.51.100.1", "192.0.2.9"}},
        {"nameserver 127.0.0.53\n", none, hostDomain, {"127.0.0.53"}},  // it names no upstream: the stub stays
    };
    for (const auto& c : cases) {
        const std::string resolv = c.resolvConf ? files.Write("resolv.conf", c.resolvConf) : none;
        const auto params = ReadNetworkParams({resolv.c_str(), c.upstream.c_str(), on.c_str()});
        ASSERT_TRUE(params) << resolv;
        EXPECT_EQ(params->domainName, c.domain) << resolv;
        EXPECT_EQ(params->dnsServers, c.servers) << resolv;
    }
    EXPECT_FALSE(ReadNetworkParams({none.c_str(), nullptr, files.Write("garbage", "x\n").c_str()}));
}

TEST(NetInfo, LeaseFiles)
{
    const std::string dhclient =
        "lease {\n interface \"eth0\";\n option dhcp-lease-time 86400;\n option dhcp-server-identifier 10.0.2.2;\n}\n"
        "lease {\n interface \"eth1\";\n option dhcp-server-identifier 172.16.0.1;\n expire epoch 1796724000; # x\n}\n"
        "lease {\n interface \"eth0\";\n option dhcp-server-identifier 10.0.2.3;\n option dhcp-lease-time 600;\n"
        " expire 2 2026/12/08 10:00:00;\n option vendor { nested; }\n}\n"
        "lease {\n interface \"eth0\";\n";  // cut short while written: not a lease
    const struct {
        std::optional<DhcpLease> lease;
        const char* server;  // null: none
        std::int64_t obtained, expires;
    } cases[] = {
        {ParseDhclientLeases(dhclient, "eth0"), "10.0.2.3", 1796724000 - 600, 1796724000},  // the last one
        {ParseDhclientLeases(dhclient, "eth1"), "172.16.0.1", 0, 1796724000},
        {ParseDhclientLeases(dhclient, "eth2"), nullptr},
        {ParseDhclientLeases("lease { option dhcp-server-identifier 10.0.0.1; expire 1 2026/02/30 10:00:00; }", "eth0"),
         "10.0.0.1", 0, 0},  // no such day
        {ParseKeyValueLease("ADDRESS=10.0.2.15\nSERVER_ADDRESS=10.0.2.2\nLIFETIME=3600\n", 1000), "10.0.2.2", 1000, 4600},
        {ParseKeyValueLease("SERVER_ADDRESS=10.0.2.2\n", 1000), nullptr},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.lease.has_value(), c.server != nullptr) << c.server;
        if (c.lease)
            EXPECT_EQ(std::tie(c.lease->server, c.lease->obtained, c.lease->expires), std::tie(c.server, c.obtained, c.expires));
    }
    TempFiles files("netinfo-leases");
    files.Write("networkd/4", "ADDRESS=10.0.4.9\nSERVER_ADDRESS=10.0.4.1\n");
    files.Write("nm/internal-0b1c-wlan0.lease", "ADDRESS=10.0.5.9\nSERVER_ADDRESS=10.0.5.1\n");
    const std::string networkd = files.Path("networkd"), nm = files.Path("nm"), dhcp = files.Path("dhcp");
    const LeaseSources sources{dhcp.c_str(), networkd.c_str(), nm.c_str(), "/proc/self/ns/net"};
    EXPECT_EQ(FindDhcpLease(sources, "eth4", 4, {"10.0.4.9"})->server, "10.0.4.1");
    EXPECT_EQ(FindDhcpLease(sources, "wlan0", 5, {"10.0.9.9", "10.0.5.9"})->server, "10.0.5.1");
    EXPECT_FALSE(FindDhcpLease(sources, "eth1", 3, {"10.0.4.9"}));
}
