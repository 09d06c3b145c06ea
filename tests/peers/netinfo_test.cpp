// The Net Info reports in a namespace of the test's own (veths, three addresses on one, a default route,
// its own resolv.conf and services file), read by this program run again under `ip netns exec` and
// compared with what `ip` says there, the services with the exact text their file gives.
#include <gtest/gtest.h>

#include <net/if.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <string>

#include "hostinfo/NetInfoReports.h"
#include "support/TempFiles.h"
#include "support/TestNamespace.h"

namespace {

constexpr const char* kInside = "QUORLIX_NETINFO_IN_NAMESPACE";

// A port with TCP and UDP entries in each order, and lines the database skips.
constexpr const char* kServices =
    "# services of the test namespace\n"
    "zero\t\t0/tcp\n"
    "echo\t\t7/tcp\n"
    "echo\t\t7/udp\n"
    "discard\t\t9/udp\t\tsink null\n"
    "discard\t\t9/tcp\t\tsink null\n"
    "syslog\t\t514/udp\n"
    "shell\t\t514/tcp\t\tcmd\t\t# no passwords used\n"
    "broken-line-without-port\n"
    "bad-port\t12ab/tcp\n"
    "/udp\n"
    "averyveryverylongservicename\t4444/tcp\n"
    "http-alt\t8080/tcp\twebcache\n"
    "edge\t\t9999/udp\n"
    "beyond\t\t10000/tcp\n";

// Leases in directories of the test's, as the host keeps them for every namespace: a current one for qxb,
// a stale one for qxa (not its address), and a networkd lease of qxa's index, which serves the host's
// namespace only.
constexpr const char* kLease =
    "lease {\n  interface \"qxb\";\n  fixed-address 10.14.9.2;\n  option dhcp-server-identifier 10.14.9.1;\n"
    "  option dhcp-lease-time 3600;\n  expire epoch 1796724000;\n}\n";
constexpr const char* kStaleLease =
    "lease {\n  interface \"qxa\";\n  fixed-address 10.14.7.2;\n  option dhcp-server-identifier 10.14.7.1;\n}\n";

QJsonArray IpJson(const std::string& args)
{
    std::string text;
    if (FILE* out = popen(("ip -j " + args).c_str(), "r")) {
        for (int c; (c = fgetc(out)) != EOF;)
            text += char(c);
        pclose(out);
    }
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).array();
}

std::string Text(const QJsonValue& v, const char* key)
{
    return v[QLatin1String(key)].toString().toStdString();
}

}  // namespace

TEST(NetInfoNetns, ReportsInANamespace)
{
    if (std::getenv(kInside))
        GTEST_SKIP() << "this is the run inside the namespace";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace";
    TestNamespace ns("qx14-netinfo");
    ASSERT_TRUE(ns.Ok());
    ns.WriteEtc("resolv.conf", "search first.test second.test\nnameserver 192.0.2.53\nnameserver 2001:db8::53\n"
                               "nameserver 192.0.2.54\n");
    ns.WriteEtc("services", kServices);
    // No IPv6: its neighbour discovery would move the packet counters under the test.
    ASSERT_TRUE(ns.Exec("sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 "
                        "net.ipv4.ip_forward=1"));
    for (const char* args : {"link add qxa type veth peer name qxb", "link set qxa address 02:14:00:00:0a:01 mtu 1400",
                             "addr add 10.14.0.2/24 dev qxa", "addr add 10.14.1.2/24 dev qxa",
                             "addr add 10.14.2.2/24 dev qxa", "addr add 10.14.9.2/24 dev qxb", "link set qxa up",
                             "link set qxb up",
                             "route add default via 10.14.0.1 dev qxa", "link add qxc type veth peer name qxd"})
        ASSERT_TRUE(ns.Ip(args)) << args;
    EXPECT_TRUE(ns.ExecSelf(kInside, "NetInfoInNamespace.*"));
}

class NetInfoInNamespace : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv(kInside))
            GTEST_SKIP() << "runs inside the namespace NetInfoNetns makes";
    }
};

TEST_F(NetInfoInNamespace, IpConfiguration)
{
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const NetInfoReport report = IpConfigurationReport();
    EXPECT_TRUE(report.complete);
    EXPECT_EQ(report.text, "[IP Statistics]\r\n\r\nHost Name:\t\t" + std::string(host) +
                               "\r\nDomain Name:\t\tfirst.test\r\nNode Type:\t\tUknown\r\nIP Routing Enabled:\tYes\r\n"
                               "DNS Servers:\t\t192.0.2.53\r\n\t\t\t192.0.2.54\r\n");
}

TEST_F(NetInfoInNamespace, AdaptersAsIpSeesThem)
{
    TempFiles files("netinfo-ns");
    files.Write("dhcp/dhclient.qxb.leases", kLease);
    files.Write("dhcp/dhclient.qxa.leases", kStaleLease);
    files.Write("networkd/" + std::to_string(if_nametoindex("qxa")), "ADDRESS=10.14.0.2\nSERVER_ADDRESS=10.14.0.1\n");
    const std::string dhcp = files.Path("dhcp"), networkd = files.Path("networkd"), none = files.Path("none");
    const NetInfoReport report =
        AdapterInformationReport(ListAdapters({dhcp.c_str(), networkd.c_str(), none.c_str()}), ReadInterfaceFigures);
    ASSERT_TRUE(report.complete);

    std::map<std::string, std::string> gateways;
    for (const QJsonValue route : IpJson("route show default"))
        gateways[Text(route, "dev")] = Text(route, "gateway");

    std::string expected = "[Adapter Information]\r\n\r\n";
    const QJsonArray links = IpJson("-s addr");
    ASSERT_EQ(links.size(), 5);
    for (const QJsonValue link : links) {
        const std::string name = Text(link, "ifname");
        const bool leased = name == "qxb", down = name == "qxc" || name == "qxd";
        std::string mac = Text(link, "address");
        std::replace(mac.begin(), mac.end(), ':', '-');
        std::string addresses;
        for (const QJsonValue a : link[QLatin1String("addr_info")].toArray())
            if (Text(a, "family") == "inet")
                addresses += (addresses.empty() ? "" : "\t\t\t") + Text(a, "local") + "\r\n";
        const QJsonObject stats = link[QLatin1String("stats64")].toObject();
        auto packets = [&](const char* way) {
            return GroupThousands(std::uint32_t(stats[QLatin1String(way)][QLatin1String("packets")].toInteger()));
        };
        expected += "Adapter Index:\t\t" + std::to_string(link[QLatin1String("ifindex")].toInt()) + "\r\n" +
                    "Adapter Name:\t\t" + name + "\r\nDescription:\t\t" + name + "\r\nMAC Address:\t\t" + mac + "\r\n" +
                    "Type:\t\t\t" + (name == "lo" ? "LoopBack" : "Ethernet") + "\r\n" +
                    "IP Addresses:\t\t" + (addresses.empty() ? "0.0.0.0\r\n" : addresses) +
                    "Default Gateway:\t" + (gateways.contains(name) ? gateways[name] : "0.0.0.0") + "\r\n" +
                    "Dhcp Enabled:\t\t" + (leased ? "Yes" : "No") + "\r\n" +
                    "Dhcp Server:\t\t" + (leased ? "10.14.9.1" : "0.0.0.0") + "\r\n" +
                    "WINS Proxy Enabled:\tNo\r\nPrimary WINS Server:\t0.0.0.0\r\nSecondary WINS Server:\t0.0.0.0\r\n" +
                    "Lease Obtained:\t\t" + (leased ? "Tue Dec 08 09:00:00 2026" : "Thu Jan 01 00:00:00 1970") + "\r\n" +
                    "Lease Expires:\t\t" + (leased ? "Tue Dec 08 10:00:00 2026" : "Thu Jan 01 00:00:00 1970") + "\r\n" +
                    "Status:\t\t\t" + (down ? "Disabled" : "Connected") + "\r\n" +  // veth's 10 Gbit/s saturates
                    "Speed:\t\t\t" + (down || name == "lo" ? "0" : "4,294,967,295") + " BytesPerSecond\r\n" +
                    "MTU:\t\t\t" + std::to_string(link[QLatin1String("mtu")].toInt()) + "\r\n" +
                    "Packets Received:\t" + packets("rx") + "\r\nPackets Sent:\t\t" + packets("tx") + "\r\n\r\n";
    }
    EXPECT_EQ(report.text, expected);
}

TEST_F(NetInfoInNamespace, AVanishedInterfaceShowsZeros)
{
    ASSERT_EQ(std::system("ip link add qxv type veth peer name qxw && ip link set qxv up"), 0);
    const unsigned index = if_nametoindex("qxv");
    ASSERT_NE(index, 0u);
    EXPECT_EQ(ReadInterfaceFigures(index).mtu, 1500u);
    ASSERT_EQ(std::system("ip link del qxv"), 0);
    const InterfaceFigures row = ReadInterfaceFigures(index);
    EXPECT_EQ(std::tie(row.mtu, row.speed, row.inPackets, row.outPackets), std::make_tuple(0u, 0u, 0u, 0u));
    EXPECT_STREQ(OperStatusName(row.operStatus), "Unknown");
}

TEST_F(NetInfoInNamespace, PortServicesAsTheCLibrarySeesThem)
{
    EXPECT_EQ(PortServicesReport().text,
              "[PORT SERVICES]\r\n\r\nPort\tService\t\tProtocol\r\n0\tzero                tcp\r\n"
              "7\techo                tcp\r\n9\tdiscard             udp\r\n514\tsyslog              udp\r\n"
              "4444\taveryveryverylongservicenametcp\r\n8080\thttp-alt            tcp\r\n"
              "9999\tedge                udp\r\n");
}
