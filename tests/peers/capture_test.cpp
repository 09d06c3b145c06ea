// The Packet Capture page in a namespace of its own: loopback filters, padded veth frames against tcpdump, the helper.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <fstream>
#include <regex>

#include "capture/CapturePage.h"
#include "net/ByteText.h"
#include "privilege/NetcapClient.h"
#include "support/CaptureFrames.h"
#include "support/GuiTest.h"
#include "support/PrivilegeTest.h"
#include "support/ScriptedPeer.h"
#include "support/TempFiles.h"
#include "support/TestNamespace.h"
#include "ui/OutputPane.h"

using namespace CaptureControls;

namespace {

constexpr const char* kInside = "QUORLIX_CAPTURE_IN_NAMESPACE";
constexpr std::uint16_t kPort = 5015;
constexpr std::string_view kTwenty = "GET / HTTP/1.0\r\n\r\nxy";

Ipv4Frame Packet(std::uint8_t protocol, std::string_view payload, std::uint32_t source = 0x7F0F0001)  // 1025 -> 5015
{
    return {.protocol = protocol, .source = source, .dest = source + 1, .destPort = kPort, .payload = payload};
}

std::atomic<int> g_opened = 0;  // the page's own opening, watched: 0 while it runs, 1 opened, 2 failed
const CapturePage::OpenCaptureFn g_pageOpen = CapturePage::openCapture;
std::unique_ptr<CaptureFrameSource> WatchedOpen(const std::string& interface, const CaptureSettings& settings,
                                                const CancelToken& token, PrivilegeFailure& failure)
{
    auto source = g_pageOpen(interface, settings, token, failure);
    g_opened = source ? 1 : 2;
    return source;
}

QString g_saveFile;  // what the save dialog chooses
// The IP packets of a file the page wrote on interface, once it is finished; tshark, tcpdump and capinfos read it
// without a word on stderr.
std::vector<std::string> ReadableSavedPackets(const std::string& path, const std::string& interface, bool stopped = true)
{
    std::vector<std::string> packets;
    std::uint32_t last = 0;
    std::vector<std::uint64_t> counts;  // received, dropped, accepted: nothing dropped here, every packet saved
    const bool finished = QTest::qWaitFor([&] { return counts.clear(), packets = SavedPackets(path, last, nullptr, &counts),
                                                       last == (stopped ? 5u : 6u); }, 5000);
    if (stopped) {
        EXPECT_TRUE(counts.size() == 3 && counts[0] >= packets.size() && counts[1] == 0 && counts[2] == packets.size());
    }
    const std::string readers = CommandOutput("HOME=/nonexistent tshark -r " + path + " 2>&1 >/dev/null; tcpdump -r " + path +
                                              " 2>&1 >/dev/null | grep -v '^reading from'; capinfos -I " + path + " 2>&1");
    EXPECT_TRUE(finished && std::regex_search(readers, std::regex("^(Running as user[^\\n]*\\n)*File name:[^\\n]*\\n"
        "Number of interfaces in file: 1\\nInterface #0 info:\\n\\s+Name = " + interface + "\\n[\\s\\S]*"
        "Number of stat entries = " + (stopped ? "1" : "0") + "\\n\\s+Number of packets = " + std::to_string(packets.size()) + "\\n"))) << readers;
    return packets;
}

class CapturePeerTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv(kInside))
            GTEST_SKIP() << "runs inside the namespace CaptureNetns makes";
        if (std::getenv("QUORLIX_NETCAP_HELPER"))
            SetNetcapHelperPath(std::getenv("QUORLIX_NETCAP_HELPER"));
        CapturePage::openCapture = WatchedOpen;
        CapturePage::chooseSaveFile = [](QWidget*) { return g_saveFile; };
        page_ = std::make_unique<CapturePage>(nullptr);
    }
    void SaveTo(const std::string& path)  // the file of the next START; "" for none
    {
        if (!page_->SavePath().isEmpty())
            page_->Item<QPushButton>(kSaveButton)->click();
        g_saveFile = QString::fromStdString(path);
        page_->Item<QPushButton>(kSaveButton)->click();
    }
    // A new capture on address, the packet lines on; false if it did not open.
    bool Start(const char* address, int format, int protocol = 0, int direction = 0, int port = kPort)
    {
        auto* list = page_->Item<QComboBox>(kAddressList);
        list->setCurrentIndex(list->findText(QString::fromLatin1(address)));
        page_->Item<QLineEdit>(kPortBox)->setText(QString::number(port));
        for (auto [id, index] : {std::pair{kProtocolList, protocol}, {kDirectionList, direction}, {kFormatList, format}})
            page_->Item<QComboBox>(id)->setCurrentIndex(index);
        page_->Item<QCheckBox>(kPacketInfoBox)->setChecked(true);
        MessageRecorder recorder;
        g_opened = 0;
        page_->Item<QPushButton>(kClearButton)->click(), page_->Item<QPushButton>(kStartButton)->click();
        return QTest::qWaitFor([&] { return g_opened != 0; }, 10000) && g_opened == 1 && page_->Capturing();
    }
    void Stop() { page_->Item<QPushButton>(kStartButton)->click(); }
    std::string Pane(std::size_t size)  // once it holds size bytes, and a moment more for anything unexpected
    {
        if (QTest::qWaitFor([&] { return PaneText(page_.get()).size() >= size; }, 5000))
            QTest::qWait(100);
        return PaneText(page_.get());
    }

    std::unique_ptr<CapturePage> page_;
};

}  // namespace

TEST(CaptureNetns, InANamespace)
{
    if (std::getenv(kInside) || geteuid() != 0)
        GTEST_SKIP() << "needs root: makes a network namespace";
    TestNamespace ns("qx15-capture"), peer("qx15-capture6");
    InstalledHelperCopy helper;
    ASSERT_TRUE(ns.Ok() && peer.Ok() && helper.Ready() && ns.LinkV6(peer, "2001:db8::ad7:1", "2001:db8::ad7:2"));
    for (const char* args : {"link add a0 type veth peer name b0", "addr add 10.215.0.1/24 dev a0",
                             "addr add 10.215.0.2/24 dev b0", "addr add 10.215.0.3/24 dev a0 label a0:1", "link set a0 up", "link set b0 up"})
        ASSERT_TRUE(ns.Ip(args)) << args;
    EXPECT_TRUE(ns.ExecSelf(kInside, "*CapturePeerTest*-*AsMember*"));
    EXPECT_TRUE(RunSelf(ns.Name(), std::string(kInside) + "=1 QUORLIX_NETCAP_HELPER=" + helper.Path(),
                        "CapturePeerTest.AsMember*", true, helper.Group()));
}

// Addresses offered (IPv4 first, loopback last, a label or zone opens its interface); which loopback packets the filters pass, once each.
TEST_F(CapturePeerTest, AddressesAndLoopbackFilters)
{
    QStringList addresses;
    for (int i = 0; i < page_->Item<QComboBox>(kAddressList)->count(); ++i)
        addresses += page_->Item<QComboBox>(kAddressList)->itemText(i);
    EXPECT_EQ(std::regex_replace(addresses.join(' ').toStdString(), std::regex("fe80::[0-9a-f:]+"), "fe80::"),
              "10.215.0.2 10.215.0.1 10.215.0.3 127.0.0.1 2001:db8::ad7:1 fe80::%v6a fe80::%b0 fe80::%a0 ::1");
    ASSERT_TRUE(Start("10.215.0.3", 2));
    Stop();
    EXPECT_EQ(page_->Pane()->CommandLine(), "tcpdump -n -i a0 'ip and (tcp or udp) and port 5015'");
    ASSERT_TRUE(Start(addresses.filter(QStringLiteral("%v6a")).value(0).toLatin1().constData(), 2));
    Stop();
    std::vector<Ipv4Frame> traffic = {Packet(6, kTwenty), Packet(17, "abcd"), Packet(17, "abcd")};
    std::swap(traffic[1].sourcePort, traffic[1].destPort);  // TCP 1025 -> 5015, UDP 5015 -> 1025, UDP 1025 -> 5016
    traffic[2].destPort = kPort + 1;
    for (int i = 0; i < 3; ++i)  // and over IPv6, behind a chain of extension headers
        traffic.push_back(traffic[std::size_t(i)]), traffic.back().ipv6 = true, traffic.back().chain = {0, 60, 43, 44};
    const struct { int protocol, direction, port; std::string sources; const char* address = "127.0.0.1"; } cases[] = {  // sources: the source ports printed, in order
        {0, 0, kPort, "1025 5015 "}, {1, 0, kPort, "1025 "}, {2, 0, kPort, "5015 "}, {0, 1, kPort, "5015 "},
        {0, 2, kPort, "1025 "}, {0, 2, kPort + 1, "1025 "}, {2, 1, 1025, "1025 "}, {0, 0, kPort, "1025 5015 ", "::1"},
        {1, 2, kPort, "1025 ", "::1"}, {2, 1, kPort, "5015 ", "::1"}, {2, 2, kPort + 1, "1025 ", "::1"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(Start(c.address, 2, c.protocol, c.direction, c.port));
        ASSERT_TRUE(SendFrames(traffic, "lo"));
        const std::string pane = Pane(1);
        std::string sources;
        for (std::size_t at = 0; (at = pane.find("\r\nDest", at + 1)) != std::string::npos;)
            sources += pane.substr(at - 4, 4) + " ";
        EXPECT_EQ(sources, c.sources) << c.address << c.protocol << c.direction << c.port;
        Stop();
    }
    // A file on a filesystem that fills: the capture stops with a message, the file ends at its last whole block.
    TempFiles files("capture-full");
    const std::string path = files.Path("full.pcapng"), payload(1400, 'f');
    ASSERT_EQ(mount("tmpfs", files.Path("").c_str(), "tmpfs", 0, "size=64k"), 0);
    SaveTo(path);
    ASSERT_TRUE(Start("127.0.0.1", 2));
    MessageRecorder recorder;
    ASSERT_TRUE(SendFrames(std::vector<Ipv4Frame>(100, Packet(17, payload)), "lo"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !recorder.Texts().isEmpty(); }));
    EXPECT_EQ(recorder.Texts(), QStringList(QString::fromStdString("Packet Capturing Stopped!\n\nUnable To Write File!\n\n" +
                                                                   path + "\n\nNo space left on device")));
    EXPECT_TRUE(!page_->Capturing() && ReadableSavedPackets(path, "lo", false).size() > 30);
    umount2(files.Path("").c_str(), MNT_DETACH);
}

class CapturePeerTestByVersion : public CapturePeerTest, public testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(IpVersions, CapturePeerTestByVersion, testing::Bool());  // false IPv4, true IPv6

// Padded veth frames as tcpdump -X reads them; no padding as data, no empty ACK, ICMP echo or later fragment printed.
// IPv6 goes to the peer namespace, to an address nobody holds (nothing answers), extension headers for IP options.
TEST_P(CapturePeerTestByVersion, VethFramesAsTcpdumpDecodesThem)
{
    const bool ipv6 = GetParam();
    TempFiles files("capture");
    SaveTo(files.Path("veth.pcapng"));
    ASSERT_TRUE(Start(ipv6 ? "2001:db8::ad7:1" : "10.215.0.2", 1));
    const std::string theirs = files.Path("tcpdump.pcap");  // tcpdump -w at the same time, then read back with -X
    PeerProcess tcpdump({"sh", "-c", "tcpdump -i " + std::string(ipv6 ? "v6a" : "b0") + " -c 9 -w " + theirs + " src host " +
                                         (ipv6 ? "2001:db8::ad7:1" : "10.215.0.1") + " 2>&1 | grep --line-buffered listening; "
                                         "tcpdump -n -X -r " + theirs + " 2>/dev/null; echo packets captured"});
    for (int i = 0; i < 3 && tcpdump.ReadLine().find("listening on") == std::string::npos; ++i) {}
    std::vector<Ipv4Frame> traffic(9, Packet(6, kTwenty, 0x0AD70001));
    traffic[1].payload = "";
    traffic[2].tcpDataOffset = 8;
    traffic[3].ipOptionWords = 2, traffic[3].chain = {0, 60, 44};
    traffic[4] = Packet(1, "abcd", 0x0AD70001);
    for (int i : {5, 6, 7, 8})
        traffic[i] = Packet(17, i == 5 ? "abcd" : i == 8 ? "0123456789abcdef\xe9" : "0123456789abcdef", 0x0AD70001);
    traffic[6].fragmentOffset = 3, traffic[6].chain = {44};
    for (Ipv4Frame& frame : traffic)
        frame.ipv6 = ipv6, frame.dest += 7 * ipv6;
    ASSERT_TRUE(SendFrames(traffic, ipv6 ? "v6a" : "a0"));

    std::string expected, payload, header;
    std::vector<std::string> printed;  // the IP packets printed, as tcpdump saw them
    std::string times;                 // and when
    int number = 0;
    auto packet = [&] {  // the last packet tcpdump printed, as the page prints it
        static const std::regex ports(R"(IP6? ([\da-f:.]+)\.(\d+) > ([\da-f:.]+)\.(\d+): (UDP|Flags).*length (\d+))");
        std::smatch m;
        const std::size_t length = std::regex_search(header, m, ports) ? std::stoul(m[6]) : 0;
        if (length == 0 || payload.size() < 4)
            return;
        const std::size_t at = ipv6 ? 4 : 2, ipLength = (ipv6 ? 40 : 0) + (std::uint8_t(payload[at]) << 8 | std::uint8_t(payload[at + 1]));
        std::string data = payload.substr(ipLength - length, length);
        const std::string open = ipv6 ? "[" : "", close = ipv6 ? "]:" : ":";
        MaskUnprintable(data.data(), data.size());
        printed.push_back(payload.substr(0, ipLength)), times += header.substr(0, 15) + "\n";
        expected += "PACKET No: " + std::to_string(++number) + "\r\nSource: " + open + m[1].str() + close + m[2].str() +
                    "\r\nDest  : " + open + m[3].str() + close + m[4].str() + "\r\nProtocol: " + (m[5] == "UDP" ? "UDP" : "TCP") +
                    ",  Data Bytes: " + std::to_string(length) + "\r\n" + data + "\r\n";
    };
    for (std::string line; (line = tcpdump.ReadLine()).find("packets captured") == std::string::npos;) {
        if (line.starts_with("\t0x")) {
            for (std::size_t at = 10; at + 2 <= std::min<std::size_t>(line.size(), 49); at += line[at] == ' ' ? 1 : 2)
                if (line[at] != ' ')
                    payload += char(std::stoi(line.substr(at, 2), nullptr, 16));
        } else {
            packet();
            static const std::regex apart(R"(([\da-f:]+) > ([\da-f:]+): [^>]* (\d+) > (\d+):)");  // "A > B: HBH ... 1025 > 80:"
            header = std::regex_replace(line, apart, "$1.$3 > $2.$4:"), payload.clear();
        }
        ASSERT_FALSE(line.empty()) << "tcpdump ended early";
    }
    packet();
    EXPECT_EQ(number, 6);
    EXPECT_EQ(Pane(expected.size()), expected);
    Stop();
    EXPECT_EQ(ReadableSavedPackets(files.Path("veth.pcapng"), ipv6 ? "v6a" : "b0"), printed);
    EXPECT_EQ(CommandOutput("tcpdump -r " + files.Path("veth.pcapng") + " 2>/dev/null | cut -c1-15"), times);
}

// As nobody in the group quorlix, through the helper's capture session, of either IP version.
TEST_F(CapturePeerTest, AsMemberThroughTheHelper)
{
    if (!std::getenv("QUORLIX_NETCAP_HELPER"))
        GTEST_SKIP() << "run as a member of the group quorlix by CaptureNetns";
    SaveTo("/quorlix-denied.pcapng");  // a directory nobody may write
    MessageRecorder recorder;
    page_->Item<QPushButton>(kStartButton)->click();
    EXPECT_EQ(recorder.Texts(), QStringList("Unable To Create File!\n\n/quorlix-denied.pcapng\n\nPermission denied"));
    TempFiles files("capture-member");
    SaveTo(files.Path("member.pcapng"));
    ASSERT_TRUE(Start("::1", 0));  // the helper's session keeps IPv6 frames
    const int sender6 = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in6 to{AF_INET6, htons(kPort), 0, IN6ADDR_LOOPBACK_INIT, 0};
    sendto(sender6, "abcd", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(sender6);
    EXPECT_NE(Pane(1).find("Dest  : [::1]:5015\r\nProtocol: UDP,  Data Bytes: 4\r\n"), std::string::npos);
    Stop();
    ASSERT_TRUE(Start("127.0.0.1", 0));
    std::uint16_t source = 0;
    const int sender = UdpSocket(source);
    SendUdp(sender, "127.0.0.1", kPort, "abcd");
    close(sender);
    const std::string expected = "PACKET No: 1\r\nSource: 127.0.0.1:" + std::to_string(source) +
                                 "\r\nDest  : 127.0.0.1:5015\r\nProtocol: UDP,  Data Bytes: 4\r\n000:  61 62 63 64" +
                                 std::string(39, ' ') + "abcd\r\n";
    EXPECT_EQ(Pane(expected.size()), expected);
    Stop();
    const auto saved = ReadableSavedPackets(files.Path("member.pcapng"), "lo");
    const double when = std::atof(CommandOutput("tcpdump -tt -r " + files.Path("member.pcapng") + " 2>/dev/null").c_str());
    EXPECT_NEAR(when, double(time(nullptr)), 60);  // the kernel's time, through the helper
    EXPECT_TRUE(saved.size() == 1 && saved[0].size() == 32 && saved[0].ends_with("abcd"));
}
