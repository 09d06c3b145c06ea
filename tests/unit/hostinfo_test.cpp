// NetStat and Net Info engines without a network: the table's text and its read-back, replayed socket dumps and
// /proc tables, the mappings from what Linux reports, and the readers of resolv.conf and lease files.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/tcp.h>

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
    std::string out;
    auto append = [&](std::uint16_t type, const void* body, std::uint32_t size) {
        const nlmsghdr header{NLMSG_LENGTH(size), type, std::uint16_t(NLM_F_MULTI | (interrupted ? NLM_F_DUMP_INTR : 0))};
        out.append(reinterpret_cast<const char*>(&header), sizeof header).append(static_cast<const char*>(body), size);
        out.resize(NLMSG_ALIGN(out.size()));
    };
    for (int port : ports) {
        inet_diag_msg m{.idiag_family = AF_INET, .idiag_state = TCP_LISTEN, .id = {.idiag_sport = htons(std::uint16_t(port))}};
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
    std::string names;
    char name[14];
    for (int kernel : std::initializer_list<int>{TCP_CLOSE, TCP_LISTEN, TCP_SYN_SENT, TCP_SYN_RECV, TCP_FIN_WAIT1, TCP_FIN_WAIT2, TCP_CLOSE_WAIT,
                       TCP_CLOSING, TCP_LAST_ACK, TCP_TIME_WAIT, 13})
        names += (TcpStateName(TableStateOf(kernel), name, sizeof name), name) + std::string(" ");
    TcpStateName(5, name, 6);
    EXPECT_EQ(names + name, "CLOSED LISTEN SYN_SENT SYN_RCVD FIN_WAIT1 FIN_WAIT2 CLOSE_WAIT CLOSING LAST_ACK TIME_WAIT UNKNOWN ESTAB");

    const std::vector<TcpRow> rows{{5, inet_addr("255.255.255.255"), htons(65535), inet_addr("255.255.255.254"), htons(65534)}};
    const std::string line = "TCP  255.255.255.255:65535  255.255.255.254:65534  ESTABABLISHED";
    EXPECT_EQ(ConnectionTableText(&rows, nullptr), kHeadings + line + "\r\nNo Data Available!\r\n");
    TcpRow r;
    ASSERT_TRUE(ReadConnectionLine(line, &r));
    EXPECT_EQ(std::tie(r.state, r.localAddr, r.localPort, r.remoteAddr, r.remotePort),
              std::make_tuple(12u, rows[0].localAddr, rows[0].localPort, rows[0].remoteAddr, rows[0].remotePort));
    for (const char* other : {"TCP  127.0.0.1:80           127.0.0.1              ESTAB",
                              "TCP  127.0.0.1:65536        127.0.0.1:1            ESTAB",
                              "TCP  127.0.0.1:8x           127.0.0.1:1            ESTAB",
                              "TCP  0x7f.0.0.1:80          127.0.0.1:1            ESTAB"})
        EXPECT_FALSE(ReadConnectionLine(other, &r)) << other;
}

// The IPv4 side of AF_INET6 sockets, as /proc/net gives them on a little-endian host without the diag modules.
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
    const struct { std::vector<std::string> replies; size_t dumps; int port; } cases[] = {  // port: of the first row, 0: no table
        {{partial, whole}, 2, 2}, {{partial}, 4, 1}, {{DiagDump({}, true)}, 4, 0},
        {{DiagDump({}, false, EPERM)}, 1, 0}, {{whole.substr(0, whole.size() - 3)}, 1, 0}};
    for (const auto& c : cases) {
        ReplaySource source;
        source.replies = c.replies;
        std::vector<TcpRow> rows;
        EXPECT_EQ(ReadTcpSockets(&rows, source), c.port > 0);
        EXPECT_EQ(source.statesAsked, std::vector<std::uint32_t>(c.dumps + (c.port > 0), 0x1FFE));  // states 1-12
        EXPECT_EQ(rows.empty() ? 0 : ntohs(std::uint16_t(rows[0].localPort)), c.port);
    }
}

// Lease dates beyond what the text holds, and the link states Linux reports, joined.
TEST(NetInfo, DatesAndLinkStates)
{
    std::string seen;
    for (std::int64_t seconds : {std::int64_t(253402300799), std::int64_t(-1), std::int64_t(253402300800), INT64_MAX})
        seen += LeaseDateText(seconds) + "|";
    for (auto [state, flags] : {std::pair{"up", 0u}, {"lowerlayerdown", IFF_UP}, {"dormant", IFF_UP}, {"testing", IFF_UP},
                                {"unknown", IFF_UP | IFF_RUNNING}, {"unknown", IFF_UP}, {"bogus", IFF_UP}})
        seen += OperStatusName(OperStatusFromLinux(state, flags)) + std::string("|");
    const std::string epoch = "Thu Jan 01 00:00:00 1970|";
    EXPECT_EQ(seen, "Fri Dec 31 23:59:59 9999|" + epoch + epoch + epoch +
                        "Disabled|Disconnected|Connecting|Connecting|Connected|Disconnected|Unknown|");
}

TEST(NetInfo, FailureLinesShortHardwareAddressesAndPortsOutOfRange)
{
    EXPECT_EQ(IpConfigurationReport(std::nullopt).text, "[IP Statistics]\r\n\r\n\tUnable To Get Parameters!\r\n\r\n");
    auto figures = [](unsigned) { return InterfaceFigures{}; };
    const NetInfoReport failed = AdapterInformationReport(std::nullopt, figures);
    EXPECT_EQ(failed.text + std::to_string(failed.complete), "[Adapter Information]\r\n\r\n\tUnable To Get Adapters Info!\r\n\r\n0");
    AdapterRecord tunnel;
    tunnel.address = {0xc0, 0x00, 0x02, 0x01};
    EXPECT_NE(AdapterInformationReport(std::vector{tunnel}, figures).text.find("MAC Address:\t\tc0-00-02-01-00-00\r\n"),
              std::string::npos);
    EXPECT_TRUE(ParseServices("huge 70000/tcp\nneg -1/tcp\nplus +7/tcp\n").empty());  // not modulo 65536
    EXPECT_EQ(ParseServices("last 65535/udp").at(0).port, 65535);
}

TEST(NetInfo, ResolverAndForwardingFiles)
{
    TempFiles files("netinfo-params");
    const std::string on = files.Write("ip_forward", "1\n"), none = files.Path("none");
    const std::string upstream = files.Write("upstream", "nameserver 198.51.100.1\nnameserver 127.0.0.53\n");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string hostDomain = strchr(host, '.') ? strchr(host, '.') + 1 : "";
    // resolvConf null: no such file.
    const struct { const char* resolvConf; const std::string& upstream; std::string domain; std::vector<std::string> servers; }
        cases[] = {
        {"domain a.test\nsearch b.test c.test\nnameserver fe80::1%eth0\nnameserver 192.0.2.7 \n;nameserver 192.0.2.1\n"
         "nameserver 192.0.2.8\n", upstream, "b.test", {"192.0.2.7", "192.0.2.8"}},
        {nullptr, upstream, hostDomain, {}},
        // Behind systemd-resolved's stub, what it forwards to; a second stub adds nothing; no upstream: the stub stays.
        {"nameserver 127.0.0.53\nnameserver 192.0.2.9\nnameserver 127.0.0.54\n", upstream, hostDomain, {"198.51.100.1", "192.0.2.9"}},
        {"nameserver 127.0.0.53\n", none, hostDomain, {"127.0.0.53"}},
    };
    for (const auto& c : cases) {
        const std::string resolv = c.resolvConf ? files.Write("resolv.conf", c.resolvConf) : none;
        const auto params = ReadNetworkParams({resolv.c_str(), c.upstream.c_str(), on.c_str()});
        ASSERT_TRUE(params) << resolv;
        EXPECT_EQ(std::tie(params->domainName, params->dnsServers), std::tie(c.domain, c.servers)) << resolv;
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
    std::string seen;
    for (const auto& lease : {ParseDhclientLeases(dhclient, "eth0"), ParseDhclientLeases(dhclient, "eth1"),
                              ParseDhclientLeases(dhclient, "eth2"),
                              ParseDhclientLeases("lease { option dhcp-server-identifier 10.0.0.1; expire 1 2026/02/30 10:00:00; }", "eth0"),
                              ParseKeyValueLease("ADDRESS=10.0.2.15\nSERVER_ADDRESS=10.0.2.2\nLIFETIME=3600\n", 1000),
                              ParseKeyValueLease("SERVER_ADDRESS=10.0.2.2\n", 1000)})
        seen += lease ? lease->server + " " + std::to_string(lease->obtained) + " " + std::to_string(lease->expires) + "|" : "none|";
    EXPECT_EQ(seen, "10.0.2.3 1796723400 1796724000|172.16.0.1 0 1796724000|none|10.0.0.1 0 0|10.0.2.2 1000 4600|none|");
    TempFiles files("netinfo-leases");
    files.Write("networkd/4", "ADDRESS=10.0.4.9\nSERVER_ADDRESS=10.0.4.1\n");
    files.Write("nm/internal-0b1c-wlan0.lease", "ADDRESS=10.0.5.9\nSERVER_ADDRESS=10.0.5.1\n");
    const std::string networkd = files.Path("networkd"), nm = files.Path("nm"), dhcp = files.Path("dhcp");
    const LeaseSources sources{dhcp.c_str(), networkd.c_str(), nm.c_str(), "/proc/self/ns/net"};
    EXPECT_EQ(FindDhcpLease(sources, "eth4", 4, {"10.0.4.9"})->server, "10.0.4.1");
    EXPECT_EQ(FindDhcpLease(sources, "wlan0", 5, {"10.0.9.9", "10.0.5.9"})->server, "10.0.5.1");
    EXPECT_FALSE(FindDhcpLease(sources, "eth1", 3, {"10.0.4.9"}));
}
