// NetStat and Net Info engines without a network: table text, resolv.conf and lease files.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <sstream>

#include "hostcfg/DhcpLease.h"
#include "hostinfo/ConnectionTable.h"
#include "hostinfo/NetInfoReports.h"
#include "privilege/NetcapRequest.h"
#include "support/TempFiles.h"

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
    EXPECT_EQ(ConnectionTableText(&rows, nullptr), "     Local Address          Remote Address         State           \r\n"
                                                   "     -------------          --------------         -----           \r\n" +
                                                       line + "\r\nNo Data Available!\r\n");
    TcpRow r;
    ASSERT_TRUE(ReadConnectionLine(line, &r));
    EXPECT_EQ(std::tie(r.state, r.localAddr, r.localPort, r.remoteAddr, r.remotePort),
              std::make_tuple(12u, rows[0].localAddr, rows[0].localPort, rows[0].remoteAddr, rows[0].remotePort));
    for (const char* other : {"TCP  127.0.0.1:80           127.0.0.1              ESTAB",
                              "TCP  127.0.0.1:65536        127.0.0.1:1            ESTAB",
                              "TCP  127.0.0.1:8x           127.0.0.1:1            ESTAB",
                              "TCP  0x7f.0.0.1:80          127.0.0.1:1            ESTAB"})
        EXPECT_FALSE(ReadConnectionLine(other, &r)) << other;

    // With owners: the state padded, any text as a name; the kill reads only what is before the owners.
    const std::vector<TcpRow> listen{{2, 0, htons(22), 0, htons(9), {}, {}, 7}}; const std::vector<UdpRow> udp{{0, htons(53), {}, 8}};
    const SocketOwners owners{{7, "1/sshd,20/sshd"}, {8, "3/x TCP ESTAB"}};
    const std::string shown = ConnectionTableText(&listen, &udp, &owners).substr(138);
    EXPECT_EQ(shown, "TCP  0.0.0.0:22             0.0.0.0:0              LISTEN         1/sshd,20/sshd\r\nUDP  0.0.0.0:53             *.*                    3/x TCP ESTAB\r\n");
    EXPECT_EQ(std::string(WithoutOwners(shown.substr(82, 60))).append(WithoutOwners(line + "  9/TCP ESTAB")), shown.substr(82, 51) + line);
}

// IPv6 rows as IpPortText writes each end, padded or longer; the line read back; the helper's kill in canonical text only.
TEST(NetStat, Ipv6RowsReadBackAndKillRequest)
{
    const char* const texts[] = {"::", "::1", "::ffff:1.2.3.4", "::1.2.3.4", "1::", "2001:db8::1:0:0:1", "0:1:0:1:0:1:0:1",
                                 "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fe80::1%lo"};
    std::vector<TcpRow> rows;
    std::string expected, line;
    for (unsigned i = 0; i < std::size(texts); ++i) {
        const IpAddress a = *ParseIpv6Literal(texts[i]), b = *ParseIpv6Literal(texts[(i + 3) % std::size(texts)]);
        rows.push_back({5, 0, htons(std::uint16_t(65535 - i)), 0, htons(std::uint16_t(i)), a, b});
        expected += (line.resize(200), line.resize(std::snprintf(line.data(), 200, "TCP  %-21s  %-21s  ESTABABLISHED\r\n", IpPortText(a, 65535 - i).c_str(), IpPortText(b, i).c_str())), line);
    }
    const std::vector<UdpRow> udp{{0, htons(53), rows.back().local6}};
    EXPECT_EQ(ConnectionTableText(&rows, &udp).substr(138), expected + "UDP  [fe80::1%lo]:53        *.*                    \r\n");
    std::istringstream lines(expected);
    for (TcpRow r; const TcpRow& row : rows) {
        ASSERT_TRUE(std::getline(lines, line) && ReadConnectionLine(line, &r)) << line;
        EXPECT_EQ(std::tie(r.local6, r.localPort, r.remote6, r.remotePort), std::tie(row.local6, row.localPort, row.remote6, row.remotePort));
        EXPECT_EQ(line.substr(size_t(ConnectionChars(line))), "ESTABABLISHED\r");
    }
    const std::string longest = "kill febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff%4294967295 65535 febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff%4294967295 65535\n";
    EXPECT_EQ(FormatNetcapRequest(ParseNetcapRequest(longest).value_or(NetcapRequest())), longest);
    for (const char* bad : {"kill 2001:db8::1%1 1 2001:db8::2 2\n", "kill fe80::1%0 1 fe80::2 2\n", "kill FE80::1 1 fe80::2 2\n", "kill fe80::1%lo 1 fe80::2 2\n",
                            "kill 0:0::1 1 ::1 2\n", "kill ::1 1 :: 2\n", "kill ::1 1 127.0.0.1 2\n"})
        EXPECT_FALSE(ParseNetcapRequest(bad)) << bad;
}

TEST(NetInfo, ResolverAndForwardingFiles)
{
    TempFiles files("netinfo-params");
    const std::string on = files.Write("ip_forward", "1\n"), none = files.Path("none");
    const std::string upstream = files.Write("upstream", "nameserver 198.51.100.1\nnameserver 127.0.0.53\n");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string hostDomain = strchr(host, '.') ? strchr(host, '.') + 1 : "";
    const struct { const char* resolvConf; const std::string& upstream; std::string domain; std::vector<std::string> servers; } cases[] = {
        {nullptr, upstream, hostDomain, {}},  // no such file
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
