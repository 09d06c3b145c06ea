// The Net Info engines: the report texts, their name tables and number
// forms, and the readers of resolv.conf, services and DHCP lease files.
#include <gtest/gtest.h>

#include <net/if.h>
#include <net/if_arp.h>

#include <string>

#include "hostinfo/NetInfoReports.h"
#include "platform/DhcpLease.h"
#include "platform/ServicesFile.h"
#include "support/TempFiles.h"

TEST(NetInfoText, GroupThousands)
{
    const struct {
        std::uint32_t n;
        const char* text;
    } cases[] = {{0, "0"},          {999, "999"},         {1000, "1,000"},
                 {100000, "100,000"}, {100000000, "100,000,000"}, {4294967295u, "4,294,967,295"}};
    for (const auto& c : cases)
        EXPECT_EQ(GroupThousands(c.n), c.text) << c.n;
}

TEST(NetInfoText, LeaseDates)
{
    const std::string epoch = "Thu Jan 01 00:00:00 1970";
    const struct {
        std::int64_t seconds;
        std::string text;
    } cases[] = {
        {0, epoch},
        {1796724000, "Tue Dec 08 10:00:00 2026"},
        {951782400, "Tue Feb 29 00:00:00 2000"},
        {4294967295, "Sun Feb 07 06:28:15 2106"},
        {253402300799, "Fri Dec 31 23:59:59 9999"},
        {-1, epoch},            // before 1970: no date to show
        {253402300800, epoch},  // past 9999: would not fit the fixed form
        {INT64_MAX, epoch},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LeaseDateText(c.seconds), c.text) << c.seconds;
        EXPECT_EQ(LeaseDateText(c.seconds).size(), 24u);
    }
}

TEST(NetInfoText, NameTablesAndLinuxMappings)
{
    EXPECT_STREQ(NodeTypeName(0), "Uknown");
    EXPECT_STREQ(NodeTypeName(8), "Hybrid");
    EXPECT_STREQ(NodeTypeName(3), "Uknown");
    const struct {
        unsigned arphrd;
        const char* name;
    } types[] = {{ARPHRD_ETHER, "Ethernet"}, {ARPHRD_IEEE802, "Ethernet"}, {ARPHRD_LOOPBACK, "LoopBack"},
                 {ARPHRD_PPP, "PPP"},        {ARPHRD_SLIP, "SLIP"},         {ARPHRD_CSLIP6, "SLIP"},
                 {ARPHRD_FDDI, "FDDI"},      {ARPHRD_IEEE802_TR, "Token Ring"}, {ARPHRD_TUNNEL, "Unknown"},
                 {ARPHRD_NONE, "Unknown"}};
    for (const auto& t : types)
        EXPECT_STREQ(AdapterTypeName(AdapterTypeFromArphrd(t.arphrd)), t.name) << t.arphrd;

    const unsigned upRunning = IFF_UP | IFF_RUNNING;
    const struct {
        const char* operstate;
        unsigned flags;
        unsigned status;
        const char* name;
    } states[] = {
        {"up", upRunning, 5, "Connected"},
        {"up", 0, 0, "Disabled"},  // administratively down, whatever the carrier says
        {"down", IFF_UP, 2, "Disconnected"},
        {"lowerlayerdown", IFF_UP, 2, "Disconnected"},
        {"notpresent", IFF_UP, 2, "Disconnected"},
        {"dormant", IFF_UP, 3, "Connecting"},
        {"testing", IFF_UP, 3, "Connecting"},
        {"unknown", upRunning, 5, "Connected"},  // loopback, tunnels
        {"unknown", IFF_UP, 2, "Disconnected"},
        {"bogus", IFF_UP, 6, "Unknown"},
    };
    for (const auto& s : states) {
        EXPECT_EQ(OperStatusFromLinux(s.operstate, s.flags), s.status) << s.operstate;
        EXPECT_STREQ(OperStatusName(s.status), s.name) << s.operstate;
    }
    EXPECT_STREQ(OperStatusName(1), "Disconnected");
    EXPECT_STREQ(OperStatusName(4), "Connected");

    const struct {
        std::int64_t megabits;
        std::uint32_t bits;
    } speeds[] = {{-1, 0}, {0, 0}, {100, 100000000}, {4294, 4294000000u}, {4295, UINT32_MAX},
                  {10000, UINT32_MAX}, {INT64_MAX, UINT32_MAX}};
    for (const auto& s : speeds)
        EXPECT_EQ(SpeedBitsPerSecond(s.megabits), s.bits) << s.megabits;
}

TEST(NetInfoText, DefaultGatewaysFromTheRouteTable)
{
    const char* route =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0102000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0202000A\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"  // a second default: the first holds
        "eth0\t0002000A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "wg0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"  // no gateway
        "eth1\t00000000\t010010AC\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "bad line\n";
    const std::vector<std::pair<std::string, std::string>> expected = {{"eth0", "10.0.2.1"}, {"eth1", "172.16.0.1"}};
    EXPECT_EQ(DefaultGateways(route), expected);
}

TEST(NetInfoReport, IpConfiguration)
{
    NetworkParams params;
    params.hostName = "box";
    params.domainName = "example.test";
    params.enableRouting = true;
    params.dnsServers = {"192.0.2.1", "192.0.2.2", "192.0.2.3"};
    NetInfoReport report = IpConfigurationReport(params);
    EXPECT_TRUE(report.complete);
    EXPECT_EQ(report.text,
              "[IP Statistics]\r\n\r\nHost Name:\t\tbox\r\nDomain Name:\t\texample.test\r\nNode Type:\t\tUknown\r\n"
              "IP Routing Enabled:\tYes\r\nDNS Servers:\t\t192.0.2.1\r\n\t\t\t192.0.2.2\r\n\t\t\t192.0.2.3\r\n");

    params.dnsServers.clear();
    params.enableRouting = false;
    EXPECT_TRUE(IpConfigurationReport(params).text.ends_with("IP Routing Enabled:\tNo\r\nDNS Servers:\t\t\r\n"));

    report = IpConfigurationReport(std::nullopt);
    EXPECT_FALSE(report.complete);
    EXPECT_EQ(report.text, "[IP Statistics]\r\n\r\n\tUnable To Get Parameters!\r\n\r\n");
}

TEST(NetInfoReport, Adapters)
{
    AdapterRecord eth;
    eth.index = 3;
    eth.adapterName = "eth0";
    eth.description = "virtio_net";
    eth.address = {0x02, 0xab, 0x0c, 0x00, 0x01, 0xff};
    eth.type = kAdapterTypeEthernet;
    eth.ipAddresses = {"10.0.2.15", "10.0.2.16", "10.0.2.17"};
    eth.gateway = "10.0.2.2";
    eth.dhcpEnabled = true;
    eth.dhcpServer = "10.0.2.2";
    eth.leaseObtained = 1796724000 - 600;
    eth.leaseExpires = 1796724000;
    AdapterRecord tunnel;  // a short hardware address, nothing configured, gone before its row is read
    tunnel.index = 9;
    tunnel.adapterName = tunnel.description = "tun0";
    tunnel.address = {0xc0, 0x00, 0x02, 0x01};
    auto row = [](unsigned index) {
        InterfaceRow r;
        if (index == 3)
            r = {1500, 100000000, kOperStatusConnected, 4294967295u, 1000};
        return r;
    };
    NetInfoReport report = AdapterInformationReport(std::vector{eth, tunnel}, row);
    EXPECT_TRUE(report.complete);
    EXPECT_EQ(report.text,
              "[Adapter Information]\r\n\r\n"
              "Adapter Index:\t\t3\r\nAdapter Name:\t\teth0\r\nDescription:\t\tvirtio_net\r\n"
              "MAC Address:\t\t02-ab-0c-00-01-ff\r\nType:\t\t\tEthernet\r\n"
              "IP Addresses:\t\t10.0.2.15\r\n\t\t\t10.0.2.16\r\n\t\t\t10.0.2.17\r\n"
              "Default Gateway:\t10.0.2.2\r\nDhcp Enabled:\t\tYes\r\nDhcp Server:\t\t10.0.2.2\r\n"
              "WINS Proxy Enabled:\tNo\r\nPrimary WINS Server:\t0.0.0.0\r\nSecondary WINS Server:\t0.0.0.0\r\n"
              "Lease Obtained:\t\tTue Dec 08 09:50:00 2026\r\nLease Expires:\t\tTue Dec 08 10:00:00 2026\r\n"
              "Status:\t\t\tConnected\r\nSpeed:\t\t\t100,000,000 BytesPerSecond\r\nMTU:\t\t\t1500\r\n"
              "Packets Received:\t4,294,967,295\r\nPackets Sent:\t\t1,000\r\n\r\n"
              "Adapter Index:\t\t9\r\nAdapter Name:\t\ttun0\r\nDescription:\t\ttun0\r\n"
              "MAC Address:\t\tc0-00-02-01-00-00\r\nType:\t\t\tUnknown\r\nIP Addresses:\t\t0.0.0.0\r\n"
              "Default Gateway:\t0.0.0.0\r\nDhcp Enabled:\t\tNo\r\nDhcp Server:\t\t0.0.0.0\r\n"
              "WINS Proxy Enabled:\tNo\r\nPrimary WINS Server:\t0.0.0.0\r\nSecondary WINS Server:\t0.0.0.0\r\n"
              "Lease Obtained:\t\tThu Jan 01 00:00:00 1970\r\nLease Expires:\t\tThu Jan 01 00:00:00 1970\r\n"
              "Status:\t\t\tUnknown\r\nSpeed:\t\t\t0 BytesPerSecond\r\nMTU:\t\t\t0\r\n"
              "Packets Received:\t0\r\nPackets Sent:\t\t0\r\n\r\n");

    report = AdapterInformationReport(std::nullopt, row);
    EXPECT_FALSE(report.complete);
    EXPECT_EQ(report.text, "[Adapter Information]\r\n\r\n\tUnable To Get Adapters Info!\r\n\r\n");
}

TEST(NetInfoReport, PortServices)
{
    const std::string services =
        "# comment line\n"
        "\n"
        "echo\t\t7/tcp\n"
        "echo\t\t7/udp\n"             // the same port again: the first entry stays
        "syslog\t\t514/udp\n"
        "shell\t\t514/tcp\t\tcmd\t# no passwords used\n"
        "zero 0/tcp\n"
        "   indented\t9/udp discard\n"
        "averyveryverylongservicename 9999/tcp\n"
        "past 10000/tcp\n"
        "no-port\n"
        "no-proto 13/\n"
        "/tcp\n"
        "bad-port 12ab/tcp\n"
        "huge 70000/tcp\n"
        "neg -1/tcp\n"
        "no-name-after-comment #11/tcp\n"
        "daytime 13/udp\r\n"
        "# 21/tcp in a comment\n"
        "last 65535/udp";
    const std::vector<ServiceEntry> entries = ParseServices(services);
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries.back().port, 65535);
    EXPECT_EQ(entries.back().protocol, "udp");

    const NetInfoReport report = PortServicesReport(entries);
    EXPECT_TRUE(report.complete);
    EXPECT_EQ(report.text,
              "[PORT SERVICES]\r\n\r\nPort\tService\t\tProtocol\r\n"
              "0\tzero                tcp\r\n"
              "7\techo                tcp\r\n"
              "9\tindented            udp\r\n"
              "13\tdaytime             udp\r\n"
              "514\tsyslog              udp\r\n"
              "9999\taveryveryverylongservicenametcp\r\n");
    EXPECT_TRUE(ReadServicesFile("/nonexistent/services").empty());
}

TEST(NetInfoPlatform, NetworkParamsFromFiles)
{
    TempFiles files("netinfo-params");
    const std::string forwardOn = files.Write("ip_forward", "1\n");
    const std::string upstream = files.Write("upstream", "nameserver 198.51.100.1\nnameserver 127.0.0.53\nnameserver 198.51.100.2\n");
    const struct {
        const char* resolvConf;
        const char* domain;  // empty: the host name's part after its first dot
        std::vector<std::string> servers;
    } cases[] = {
        {"domain a.test\nsearch b.test c.test\nnameserver 192.0.2.1\nnameserver ::1\nnameserver 192.0.2.2\n", "b.test",
         {"192.0.2.1", "192.0.2.2"}},
        {"search b.test c.test\ndomain a.test\n", "a.test", {}},
        {"# domain x.test\nnameserver 127.0.0.53\nnameserver 192.0.2.9\nnameserver 127.0.0.54\n", "",
         {"198.51.100.1", "198.51.100.2", "192.0.2.9"}},
    };
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string hostName = host;
    const auto dot = hostName.find('.');
    for (const auto& c : cases) {
        const std::string resolv = files.Write("resolv.conf", c.resolvConf);
        const auto params = GetNetworkParams({resolv.c_str(), upstream.c_str(), forwardOn.c_str()});
        ASSERT_TRUE(params) << c.resolvConf;
        EXPECT_EQ(params->hostName, hostName);
        EXPECT_EQ(params->domainName,
                  *c.domain ? c.domain : (dot == std::string::npos ? "" : hostName.substr(dot + 1)));
        EXPECT_EQ(params->dnsServers, c.servers);
        EXPECT_TRUE(params->enableRouting);
        EXPECT_EQ(params->nodeType, 0u);
    }
    // The stub stays where it publishes no upstream server.
    EXPECT_EQ(DnsServerList(files.Write("stub", "nameserver 127.0.0.53\n").c_str(), files.Path("none").c_str()),
              std::vector<std::string>{"127.0.0.53"});
    const std::string resolv = files.Path("resolv.conf");
    EXPECT_FALSE(GetNetworkParams({resolv.c_str(), nullptr, files.Path("none").c_str()}));
    EXPECT_FALSE(GetNetworkParams({resolv.c_str(), nullptr, files.Write("garbage", "x\n").c_str()}));
    EXPECT_TRUE(GetNetworkParams({files.Path("none").c_str(), nullptr, forwardOn.c_str()}));
}

TEST(NetInfoPlatform, DhclientLeases)
{
    const std::string leases =
        "lease {\n  interface \"eth0\";\n  fixed-address 10.0.2.15;\n  option dhcp-lease-time 86400;\n"
        "  option dhcp-server-identifier 10.0.2.2;\n  renew 2 2026/12/08 02:00:00;\n"
        "  expire 2 2026/12/08 10:00:00;\n}\n"
        "lease {\n  interface \"eth1\";\n  option dhcp-server-identifier 172.16.0.1;\n  expire epoch 1796724000; # Tue Dec 8\n}\n"
        "lease {\n  interface \"eth0\";\n  option dhcp-server-identifier 10.0.2.3;\n  option dhcp-lease-time 600;\n"
        "  expire 2 2026/12/08 10:00:00;\n  option vendor { nested; }\n}\n"
        "lease {\n  interface \"eth0\";\n";  // cut short while written: not a lease
    const struct {
        std::string_view interface;
        std::optional<std::string> server;
        std::int64_t obtained, expires;
    } cases[] = {
        {"eth0", "10.0.2.3", 1796724000 - 600, 1796724000},  // the last complete lease
        {"eth1", "172.16.0.1", 0, 1796724000},
        {"eth2", std::nullopt, 0, 0},
    };
    for (const auto& c : cases) {
        const auto lease = ParseDhclientLeases(leases, c.interface);
        ASSERT_EQ(lease.has_value(), c.server.has_value()) << c.interface;
        if (!lease)
            continue;
        EXPECT_EQ(lease->server, *c.server);
        EXPECT_EQ(lease->obtained, c.obtained);
        EXPECT_EQ(lease->expires, c.expires);
    }
    EXPECT_EQ(ParseDhclientLeases("lease { expire never; option dhcp-server-identifier x; }", "eth0"), std::nullopt);
}

TEST(NetInfoPlatform, KeyValueLeasesAndWhereLeasesAreFound)
{
    const auto lease = ParseKeyValueLease("# comment\nADDRESS=10.0.2.15\nSERVER_ADDRESS=10.0.2.2\nLIFETIME=3600\n", 1000);
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->server, "10.0.2.2");
    EXPECT_EQ(lease->obtained, 1000);
    EXPECT_EQ(lease->expires, 4600);
    EXPECT_FALSE(ParseKeyValueLease("SERVER_ADDRESS=10.0.2.2\n", 1000));

    TempFiles files("netinfo-leases");
    files.Write("networkd/4", "ADDRESS=10.0.4.9\nSERVER_ADDRESS=10.0.4.1\n");
    files.Write("nm/internal-0b1c-wlan0.lease", "ADDRESS=10.0.5.9\nSERVER_ADDRESS=10.0.5.1\n");
    files.Write("dhcp/dhclient.eth0.leases", "lease { option dhcp-server-identifier 10.0.2.2; }\n");
    const std::string networkd = files.Path("networkd"), nm = files.Path("nm"), dhcp = files.Path("dhcp");
    const LeaseSources sources{dhcp.c_str(), networkd.c_str(), nm.c_str()};
    const struct {
        const char* interface;
        unsigned index;
        const char* server;  // null: no lease
    } cases[] = {{"eth4", 4, "10.0.4.1"}, {"wlan0", 5, "10.0.5.1"}, {"eth0", 2, "10.0.2.2"}, {"eth1", 3, nullptr}};
    for (const auto& c : cases) {
        const auto found = FindDhcpLease(sources, c.interface, c.index);
        EXPECT_EQ(found ? found->server : "", c.server ? c.server : "") << c.interface;
    }
}
