// Net Info in a namespace of its own, run again under `ip netns exec`, against `ip -j` and getservbyport.
#include <gtest/gtest.h>
#include <net/if.h>
#include <netdb.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollBar>
#include <map>

#include "hostinfo/NetInfoPage.h"
#include "hostinfo/NetInfoReports.h"
#include "support/GuiTest.h"
#include "support/TempFiles.h"
#include "support/TestNamespace.h"
#include "ui/OutputPane.h"

namespace {

constexpr const char* kInside = "QUORLIX_NETINFO_IN_NAMESPACE";

// A port with TCP and UDP entries in each order, lines the C library skips, and ports beyond the report.
constexpr const char* kServices = "zero\t0/tcp\necho\t7/tcp\necho\t7/udp\ndiscard\t9/udp\tsink null\ndiscard\t9/tcp\tsink\n"
                                  "syslog\t514/udp\nshell\t514/tcp\t\tcmd\t# no passwords used\nbroken-line-without-port\n"
                                  "bad-port\t12ab/tcp\n/udp\naveryveryverylongservicename\t4444/tcp\nhttp-alt\t8080/tcp\n"
                                  "edge\t9999/udp\nbeyond\t10000/tcp\n";

QJsonArray IpJson(const std::string& args) { return QJsonDocument::fromJson(QByteArray::fromStdString(CommandOutput("ip -j " + args))).array(); }

std::string Text(const QJsonValue& v, const char* key) { return v[QLatin1String(key)].toString().toStdString(); }

}  // namespace

TEST(NetInfoNetns, ReportsInANamespace)
{
    if (std::getenv(kInside) || geteuid() != 0)
        GTEST_SKIP() << "needs root: makes a network namespace";
    TestNamespace ns("qx14-netinfo");
    ASSERT_TRUE(ns.Ok());
    ns.WriteEtc("resolv.conf", "search first.test second.test\nnameserver 192.0.2.53\nnameserver 2001:db8::53\n"
                               "nameserver 192.0.2.54\n");
    ns.WriteEtc("services", kServices);
    // IPv6 on lo and on the link that stays down: neighbour discovery elsewhere would move the packet counters.
    ASSERT_TRUE(ns.Exec("sysctl -qw net.ipv6.conf.default.disable_ipv6=1 net.ipv4.ip_forward=1"));
    for (const char* args : {"link add qxa type veth peer name qxb", "link set qxa address 02:14:00:00:0a:01 mtu 1400",
                             "addr add 10.14.0.2/24 dev qxa", "addr add 10.14.1.2/24 dev qxa", "addr add 10.14.2.2/24 dev qxa",
                             "addr add 10.14.9.2/24 dev qxb", "link set qxa up", "link set qxb up",
                             "route add default via 10.14.0.1 dev qxa", "link add qxc type veth peer name qxd"})
        ASSERT_TRUE(ns.Ip(args)) << args;
    ASSERT_TRUE(ns.Exec("sysctl -qw net.ipv6.conf.qxc.disable_ipv6=0"));
    for (const char* address : {"2001:db8:14::3", "fe80::14:3", "2001:db8:14::4"})
        ASSERT_TRUE(ns.Ip("addr add " + std::string(address) + "/64 dev qxc nodad"));
    EXPECT_TRUE(ns.ExecSelf(kInside, "NetInfoInNamespace.*"));
}

struct NetInfoInNamespace : testing::Test {
    void SetUp() override
    {
        if (!std::getenv(kInside))
            GTEST_SKIP() << "runs inside the namespace NetInfoNetns makes";
    }
};

// A dhclient lease for qxb, a stale one for qxa, and a networkd lease (host namespace only) of qxa's index.
TEST_F(NetInfoInNamespace, AdaptersAsIpSeesThem)
{
    TempFiles files("netinfo-ns");
    files.Write("dhcp/dhclient.qxb.leases", "lease {\n  interface \"qxb\";\n  fixed-address 10.14.9.2;\n  option "
                                            "dhcp-server-identifier 10.14.9.1;\n  option dhcp-lease-time 3600;\n  expire epoch 1796724000;\n}\n");
    files.Write("dhcp/dhclient.qxa.leases", "lease {\n  interface \"qxa\";\n  fixed-address 10.14.7.2;\n  option "
                                            "dhcp-server-identifier 10.14.7.1;\n}\n");
    files.Write("networkd/" + std::to_string(if_nametoindex("qxa")), "ADDRESS=10.14.0.2\nSERVER_ADDRESS=10.14.0.1\n");
    const std::string dhcp = files.Path("dhcp"), networkd = files.Path("networkd"), none = files.Path("none");
    const NetInfoReport report = AdapterInformationReport(ListAdapters({dhcp.c_str(), networkd.c_str(), none.c_str()}), ReadInterfaceFigures);
    std::map<std::string, std::string> gateways;
    for (const QJsonValue route : IpJson("route show default"))
        gateways[Text(route, "dev")] = Text(route, "gateway");
    std::string expected = "[Adapter Information]\r\n\r\n";
    const QJsonArray links = IpJson(report.commandLine.substr(3));  // the report's command, in JSON
    ASSERT_EQ(links.size(), 5);
    for (const QJsonValue link : links) {
        const std::string name = Text(link, "ifname");
        const bool leased = name == "qxb", down = name == "qxc" || name == "qxd";
        std::string mac = Text(link, "address"), addresses, v6;
        std::replace(mac.begin(), mac.end(), ':', '-');
        for (const QJsonValue a : link[QLatin1String("addr_info")].toArray()) {
            std::string& list = Text(a, "family") == "inet" ? addresses : v6;
            list += (list.empty() ? "" : "\t\t\t") + Text(a, "local") + (Text(a, "scope") == "link" ? "%" + name : "") + "\r\n";
        }
        auto number = [&](const char* key, const char* way = nullptr) {
            const QJsonValue v = link[QLatin1String(key)];
            return way ? GroupThousands(std::uint32_t(v[QLatin1String(way)][QLatin1String("packets")].toInteger())) : std::to_string(v.toInt());
        };
        expected += "Adapter Index:\t\t" + number("ifindex") + "\r\nAdapter Name:\t\t" + name +
                    "\r\nDescription:\t\t" + name + "\r\nMAC Address:\t\t" + mac + "\r\nType:\t\t\t" + (name == "lo" ? "LoopBack" : "Ethernet") +
                    "\r\nIP Addresses:\t\t" + (addresses.empty() ? "0.0.0.0\r\n" : addresses) +
                    (v6.empty() ? "" : "IPv6 Addresses:\t\t" + v6) + "Default Gateway:\t" +
                    (gateways.contains(name) ? gateways[name] : "0.0.0.0") + "\r\nDhcp Enabled:\t\t" + (leased ? "Yes" : "No") +
                    "\r\nDhcp Server:\t\t" + (leased ? "10.14.9.1" : "0.0.0.0") +
                    "\r\nWINS Proxy Enabled:\tNo\r\nPrimary WINS Server:\t0.0.0.0\r\nSecondary WINS Server:\t0.0.0.0\r\n"
                    "Lease Obtained:\t\t" + (leased ? "Tue Dec 08 09:00:00 2026" : "Thu Jan 01 00:00:00 1970") +
                    "\r\nLease Expires:\t\t" + (leased ? "Tue Dec 08 10:00:00 2026" : "Thu Jan 01 00:00:00 1970") +
                    "\r\nStatus:\t\t\t" + (down ? "Disabled" : "Connected") +  // veth's 10 Gbit/s saturates
                    "\r\nSpeed:\t\t\t" + (down || name == "lo" ? "0" : "4,294,967,295") + " BytesPerSecond\r\nMTU:\t\t\t" +
                    number("mtu") + "\r\nPackets Received:\t" + number("stats64", "rx") + "\r\nPackets Sent:\t\t" +
                    number("stats64", "tx") + "\r\n\r\n";
    }
    EXPECT_EQ(report.text, expected);
}

// The file read in one pass gives what a getservbyport(port, NULL) for each port under 10000 gives.
TEST_F(NetInfoInNamespace, PortServicesAsTheCLibrarySeesThem)
{
    std::string expected = "[PORT SERVICES]\r\n\r\nPort\tService\t\tProtocol\r\n";
    for (int port = 0; port < 10000; ++port)
        if (const servent* s = getservbyport(htons(std::uint16_t(port)), nullptr))
            expected += std::to_string(port) + "\t" + (s->s_name + std::string(20, ' ')).substr(0, std::max<std::size_t>(20, std::strlen(s->s_name))) + s->s_proto + "\r\n";
    EXPECT_EQ(PortServicesReport().text, expected);
    EXPECT_NE(expected.find("4444\taveryveryverylongservicenametcp"), std::string::npos);
}

// The namespace's resolv.conf; each choice shows its report from the top, the focus in the pane.
TEST_F(NetInfoInNamespace, IpConfigurationAndPage)
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(IpConfigurationReport().text, "[IP Statistics]\r\n\r\nHost Name:\t\t" + std::string(host) +
                                                "\r\nDomain Name:\t\tfirst.test\r\nNode Type:\t\tUknown\r\nIP Routing Enabled:\tYes\r\n"
                                                "DNS Servers:\t\t192.0.2.53\r\n\t\t\t2001:db8::53\r\n\t\t\t192.0.2.54\r\n");
    EXPECT_EQ(CommandOutput(IpConfigurationReport().commandLine), std::string(host) + "\nnet.ipv4.ip_forward = 1\nsearch first.test "
              "second.test\nnameserver 192.0.2.53\nnameserver 2001:db8::53\nnameserver 192.0.2.54\n");
    auto* page = new NetInfoPage(nullptr);
    ASSERT_TRUE(ShowExposed(page));
    auto* box = page->Item<QComboBox>(NetInfoControls::kReportBox);
    for (auto [key, report] : {std::pair{Qt::Key_Down, AdapterInformationReport()}, {Qt::Key_Down, PortServicesReport()},
                               {Qt::Key_Home, IpConfigurationReport()}}) {
        box->setFocus();
        QTest::keyClick(box, key);
        EXPECT_EQ(std::pair(PaneText(page), page->Pane()->CommandLine()), std::pair(report.text, report.commandLine));
        EXPECT_TRUE(page->Pane()->hasFocus());
        EXPECT_EQ(page->Pane()->verticalScrollBar()->value(), 0);
    }
    delete page;
}
