// The Net Info engines where the namespace test cannot reach: number and date forms, the mappings from
// what Linux reports, the failure lines, and the readers of resolv.conf and lease files.
#include <gtest/gtest.h>

#include <net/if.h>
#include <net/if_arp.h>

#include "hostinfo/NetInfoReports.h"
#include "hostcfg/DhcpLease.h"
#include "hostcfg/ServicesFile.h"
#include "support/TempFiles.h"

TEST(NetInfoText, NumbersAndDates)
{
    const std::pair<std::uint32_t, const char*> numbers[] = {{999, "999"}, {1000, "1,000"}, {4294967295u, "4,294,967,295"}};
    for (const auto& [n, text] : numbers)
        EXPECT_EQ(GroupThousands(n), text);
    const char* const epoch = "Thu Jan 01 00:00:00 1970";
    const std::pair<std::int64_t, const char*> dates[] = {
        {0, epoch}, {253402300799, "Fri Dec 31 23:59:59 9999"},
        {-1, epoch}, {253402300800, epoch}, {INT64_MAX, epoch}};  // no date, or one the fixed form cannot hold
    for (const auto& [seconds, text] : dates)
        EXPECT_EQ(LeaseDateText(seconds), text) << seconds;
}

// Ethernet, loopback, up, down and the saturated veth speed are in the namespace test.
TEST(NetInfoText, LinuxValuesMapOntoTheReportsNames)
{
    const std::pair<unsigned, const char*> types[] = {{ARPHRD_IEEE802, "Ethernet"}, {ARPHRD_PPP, "PPP"},
        {ARPHRD_CSLIP6, "SLIP"}, {ARPHRD_FDDI, "FDDI"}, {ARPHRD_IEEE802_TR, "Token Ring"}, {ARPHRD_NONE, "Unknown"}};
    for (const auto& [arphrd, name] : types)
        EXPECT_STREQ(AdapterTypeName(AdapterTypeFromArphrd(arphrd)), name) << arphrd;
    const struct {
        const char* operstate;
        unsigned flags;
        const char* name;
    } states[] = {
        {"up", 0, "Disabled"},  // administratively down, whatever the link says
        {"lowerlayerdown", IFF_UP, "Disconnected"}, {"notpresent", IFF_UP, "Disconnected"},
        {"dormant", IFF_UP, "Connecting"}, {"testing", IFF_UP, "Connecting"},
        {"unknown", IFF_UP | IFF_RUNNING, "Connected"}, {"unknown", IFF_UP, "Disconnected"}, {"bogus", IFF_UP, "Unknown"},
    };
    for (const auto& s : states)
        EXPECT_STREQ(OperStatusName(OperStatusFromLinux(s.operstate, s.flags)), s.name) << s.operstate;
    const std::pair<std::int64_t, std::uint32_t> speeds[] = {{4294, 4294000000u}, {4295, UINT32_MAX}, {INT64_MAX, UINT32_MAX}};
    for (const auto& [megabits, bits] : speeds)
        EXPECT_EQ(SpeedBitsPerSecond(megabits), bits) << megabits;
}

TEST(NetInfoReport, FailureLinesShortHardwareAddressesAndOutOfRangePorts)
{
    EXPECT_EQ(IpConfigurationReport(std::nullopt).text, "[IP Statistics]\r\n\r\n\tUnable To Get Parameters!\r\n\r\n");
    auto row = [](unsigned) { return InterfaceFigures{}; };
    const NetInfoReport failed = AdapterInformationReport(std::nullopt, row);
    EXPECT_EQ(failed.text, "[Adapter Information]\r\n\r\n\tUnable To Get Adapters Info!\r\n\r\n");
    EXPECT_FALSE(failed.complete);
    AdapterRecord tunnel;
    tunnel.address = {0xc0, 0x00, 0x02, 0x01};
    EXPECT_NE(AdapterInformationReport(std::vector{tunnel}, row).text.find("MAC Address:\t\tc0-00-02-01-00-00\r\n"),
              std::string::npos);
    // The C library would take these modulo 65536 (and -1 as 65535).
    EXPECT_TRUE(ParseServices("huge 70000/tcp\nneg -1/tcp\nplus +7/tcp\n").empty());
    EXPECT_EQ(ParseServices("last 65535/udp").at(0).port, 65535);
}

TEST(NetInfoPlatform, ResolverAndForwardingFiles)
{
    TempFiles files("netinfo-params");
    const std::string on = files.Write("ip_forward", "1\n"), none = files.Path("none");
    const std::string upstream =
        files.Write("upstream", "nameserver 2001:db8::1\nnameserver 198.51.100.1\nnameserver 127.0.0.53\nnameserver 198.51.100.2\n");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string hostName = host;
    const std::string hostDomain = hostName.find('.') == std::string::npos ? "" : hostName.substr(hostName.find('.') + 1);
    const struct {
        const char* resolvConf;  // null: no such file
        const std::string& upstream;
        std::string domain;
        std::vector<std::string> servers;
    } cases[] = {
        {"domain a.test\n# domain x.test\nsearch b.test c.test\nnameserver fe80::1%eth0\nnameserver 192.0.2.7 \n"
         ";nameserver 192.0.2.1\nnameserver 192.0.2.8\n",
         upstream, "b.test", {"192.0.2.7", "192.0.2.8"}},
        {nullptr, upstream, hostDomain, {}},
        // Behind systemd-resolved's stub, what it forwards to; a second stub adds nothing.
        {"nameserver 127.0.0.53\nnameserver 192.0.2.9\nnameserver 127.0.0.54\nnameserver 127.0.0.1\noptions edns0\n",
         upstream, hostDomain, {"198.51.100.1", "198.51.100.2", "192.0.2.9", "127.0.0.1"}},
        {"nameserver 127.0.0.53\n", none, hostDomain, {"127.0.0.53"}},  // it names no upstream: the stub stays
    };
    for (const auto& c : cases) {
        const std::string resolv = c.resolvConf ? files.Write("resolv.conf", c.resolvConf) : none;
        const auto params = ReadNetworkParams({resolv.c_str(), c.upstream.c_str(), on.c_str()});
        ASSERT_TRUE(params) << resolv;
        EXPECT_EQ(params->domainName, c.domain) << resolv;
        EXPECT_EQ(params->dnsServers, c.servers) << resolv;
    }
    for (const std::string& forward : {none, files.Write("garbage", "x\n")})
        EXPECT_FALSE(ReadNetworkParams({none.c_str(), nullptr, forward.c_str()}));
}

TEST(NetInfoPlatform, LeaseFiles)
{
    const std::string dhclient =
        "lease {\n  interface \"eth0\";\n  option dhcp-lease-time 86400;\n  option dhcp-server-identifier 10.0.2.2;\n"
        "  expire 2 2026/12/08 10:00:00;\n}\n"
        "lease {\n  interface \"eth1\";\n  option dhcp-server-identifier 172.16.0.1;\n  expire epoch 1796724000; # x\n}\n"
        "lease {\n  interface \"eth0\";\n  option dhcp-server-identifier 10.0.2.3;\n  option dhcp-lease-time 600;\n"
        "  expire 2 2026/12/08 10:00:00;\n  option vendor { nested; }\n}\n"
        "lease {\n  interface \"eth0\";\n";  // cut short while written: not a lease
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
        {ParseDhclientLeases("lease { expire never; option dhcp-server-identifier x; }", "eth0"), nullptr},
        {ParseKeyValueLease("ADDRESS=10.0.2.15\nSERVER_ADDRESS=10.0.2.2\nLIFETIME=3600\n", 1000), "10.0.2.2", 1000, 4600},
        {ParseKeyValueLease("SERVER_ADDRESS=10.0.2.2\n", 1000), nullptr},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.lease.has_value(), c.server != nullptr) << c.server;
        if (c.lease) {
            EXPECT_EQ(std::tie(c.lease->server, c.lease->obtained, c.lease->expires), std::tie(c.server, c.obtained, c.expires));
        }
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
