// The Packet Capture page on real interfaces: known packets sent on loopback,
// and across a veth pair between two namespaces the test makes, with the exact
// text the pane shows. Needs root; the run as a member of the group quorlix
// through the helper is its own test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "capture/CapturePage.h"
#include "privilege/NetcapClient.h"
#include "support/CaptureTraffic.h"
#include "support/GuiTest.h"
#include "support/PrivilegeTest.h"
#include "ui/OutputPane.h"

using namespace CaptureControls;

namespace {

constexpr std::uint16_t kPort = 5015;
constexpr std::string_view kTwenty = "GET / HTTP/1.0\r\n\r\nxy";

// The page's own opening, which runs in its task: how the last one ended (0 while it runs, 1 opened, 2 failed).
std::atomic<int> g_opening = 0;
const CapturePage::OpenCaptureFn g_pageOpen = CapturePage::openCapture;
std::unique_ptr<CaptureFrameSource> WatchedOpen(const std::string& interface, const CaptureSettings& settings,
                                                const CancelToken& token, PrivilegeFailure& failure)
{
    auto source = g_pageOpen(interface, settings, token, failure);
    g_opening = source ? 1 : 2;
    return source;
}

// A packet 127.15.0.1:1025 -> 127.15.0.2:5015.
Ipv4Frame Packet(std::uint8_t protocol, std::string_view payload)
{
    return {.protocol = protocol, .source = 0x7F0F0001, .dest = 0x7F0F0002, .destPort = kPort, .payload = payload};
}

class CapturePeerTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("QUORLIX_NETCAP_HELPER"))
            SetNetcapHelperPath(std::getenv("QUORLIX_NETCAP_HELPER"));
        else if (geteuid() != 0)
            GTEST_SKIP() << "needs root: sends shaped packets through a raw socket and makes namespaces";
    }
    void TearDown() override { page_.reset(); }

    // A new capture on address with the given settings, the packet lines on, once open; false if it could not start.
    bool Start(const char* address, int format, int protocol = 0, int direction = 0, int port = kPort)
    {
        CapturePage::openCapture = WatchedOpen;
        if (!page_)
            page_ = std::make_unique<CapturePage>(nullptr);
        auto* list = page_->Item<QComboBox>(kAddressList);
        list->setCurrentIndex(list->findText(QString::fromLatin1(address)));
        page_->Item<QLineEdit>(kPortBox)->setText(QString::number(port));
        page_->Item<QComboBox>(kProtocolList)->setCurrentIndex(protocol);
        page_->Item<QComboBox>(kDirectionList)->setCurrentIndex(direction);
        page_->Item<QCheckBox>(kPacketInfoBox)->setChecked(true);
        page_->Item<QComboBox>(kFormatList)->setCurrentIndex(format);
        MessageRecorder recorder;
        g_opening = 0;
        QTest::mouseClick(page_->Item<QPushButton>(kClearButton), Qt::LeftButton);
        QTest::mouseClick(page_->Item<QPushButton>(kStartButton), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return g_opening != 0; }, 10000) || g_opening != 1)
            QTest::qWait(100);  // for its messages
        EXPECT_EQ(recorder.Texts(), QStringList()) << address;
        return g_opening == 1 && page_->Capturing();
    }
    void Stop() { QTest::mouseClick(page_->Item<QPushButton>(kStartButton), Qt::LeftButton); }
    // The pane once it holds size bytes, and a moment more for anything unexpected.
    std::string Pane(std::size_t size)
    {
        if (QTest::qWaitFor([&] { return PaneText(page_.get()).size() >= size; }, 5000))
            QTest::qWait(100);
        return PaneText(page_.get());
    }

    std::unique_ptr<CapturePage> page_;
};

#define START_OR_FAIL(address, ...) \
    ASSERT_TRUE(Start(address, __VA_ARGS__)) << "no capture could be opened on the interface of " << address

}  // namespace

// The kernel's filter and the loopback's outgoing copies: which packets come through, once each.
TEST_F(CapturePeerTest, LoopbackFilters)
{
    // TCP 1025 -> 5015, UDP 5015 -> 1025, UDP 1025 -> 5016.
    std::vector<Ipv4Frame> traffic = {Packet(6, kTwenty), Packet(17, "abcd"), Packet(17, "abcd")};
    std::swap(traffic[1].sourcePort, traffic[1].destPort);
    traffic[2].destPort = kPort + 1;
    const struct {
        int protocol, direction, port;
        std::string sources;  // the source ports printed, in order
    } cases[] = {
        {0, 0, kPort, "1025 5015 "}, {1, 0, kPort, "1025 "}, {2, 0, kPort, "5015 "},
        {0, 1, kPort, "5015 "},      {0, 2, kPort, "1025 "}, {0, 2, kPort + 1, "1025 "},
        {2, 1, 1025, "1025 "},
    };
    for (const auto& c : cases) {
        START_OR_FAIL("127.0.0.1", 2, c.protocol, c.direction, c.port);
        ASSERT_TRUE(SendFrames(traffic));
        const std::string pane = Pane(1);
        std::string sources;
        for (std::size_t at = 0; (at = pane.find("Source: 127.15.0.1:", at)) != std::string::npos; at += 19)
            sources += pane.substr(at + 19, 4) + " ";
        EXPECT_EQ(sources, c.sources) << c.protocol << c.direction << c.port;
        Stop();
    }
}

// The exact dump of known packets across a veth pair, where frames under 60
// bytes arrive padded: the padding is never data, and an acknowledgement, an
// ICMP echo and a later fragment whose bytes 20-23 look like ports 1025 -> 5015
// are never printed.
TEST_F(CapturePeerTest, VethDumpWithEthernetPadding)
{
    VethPair pair("qx15v");
    ASSERT_TRUE(pair.Up());
    VethPair::Entered inside(pair.Namespace('b'));
    ASSERT_TRUE(inside.Ok());
    START_OR_FAIL("10.215.0.2", 0);

    std::vector<Ipv4Frame> traffic = {Packet(6, kTwenty),  Packet(6, ""),      Packet(6, kTwenty),
                                      Packet(6, kTwenty),  Packet(1, "abcd"),  Packet(17, "abcd"),
                                      Packet(17, "abcd"),  Packet(17, "0123456789abcdef"),
                                      Packet(17, "0123456789abcdef\xe9")};
    traffic[2].tcpDataOffset = 8;
    traffic[3].ipOptionWords = 2;
    traffic[6].fragmentOffset = 3;
    for (Ipv4Frame& f : traffic) {
        f.source = 0x0AD70001;
        f.dest = 0x0AD70002;
    }
    bool sent = false;
    std::thread([&] {
        VethPair::Entered a(pair.Namespace('a'));
        sent = a.Ok() && SendFrames(traffic, "a0");
    }).join();
    ASSERT_TRUE(sent);

    auto info = [](int number, const char* protocol, int bytes) {
        return "PACKET No: " + std::to_string(number) + "\r\nSource: 10.215.0.1:1025\r\nDest  : 10.215.0.2:5015\r\n"
               "Protocol: " + protocol + ",  Data Bytes: " + std::to_string(bytes) + "\r\n";
    };
    const std::string tcp = "000:  47 45 54 20 2f 20 48 54  54 50 2f 31 2e 30 0d 0a  GET / HTTP/1.0..\r\n"
                            "010:  0d 0a 78 79" + std::string(39, ' ') + "..xy\r\n";
    const std::string sixteen = "000:  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  0123456789abcdef\r\n";
    const std::string expected = info(1, "TCP", 20) + tcp + info(2, "TCP", 20) + tcp + info(3, "TCP", 20) + tcp +
                                 info(4, "UDP", 4) + "000:  61 62 63 64" + std::string(39, ' ') + "abcd\r\n" +
                                 info(5, "UDP", 16) + sixteen + info(6, "UDP", 17) + sixteen + "010:  e9" +
                                 std::string(48, ' ') + ".\r\n";
    EXPECT_EQ(Pane(expected.size()), expected);
    Stop();
    page_.reset();
}

// As nobody in the group quorlix, in a namespace of its own, the page captures
// through the helper's capture session: run by the test below.
TEST_F(CapturePeerTest, AsMemberThroughTheHelper)
{
    if (!std::getenv("QUORLIX_NETCAP_HELPER"))
        GTEST_SKIP() << "run as a member of the group quorlix by CapturePeerTest.UnprivilegedMember";
    ASSERT_NE(geteuid(), 0u);
    START_OR_FAIL("127.0.0.1", 0);
    std::uint16_t source = 0;
    const int sender = UdpSocket(source);
    SendUdp(sender, "127.0.0.1", kPort, "abcd");
    close(sender);
    const std::string expected = "PACKET No: 1\r\nSource: 127.0.0.1:" + std::to_string(source) +
                                 "\r\nDest  : 127.0.0.1:5015\r\nProtocol: UDP,  Data Bytes: 4\r\n000:  61 62 63 64" +
                                 std::string(39, ' ') + "abcd\r\n";
    EXPECT_EQ(Pane(expected.size()), expected);
    Stop();
}

TEST_F(CapturePeerTest, UnprivilegedMember)
{
    if (std::getenv("QUORLIX_NETCAP_HELPER"))
        GTEST_SKIP() << "the member's own run";
    TestNamespace ns("qx15m");
    InstalledHelperCopy helper;
    ASSERT_TRUE(ns.Ok());
    ASSERT_TRUE(helper.Ready());
    EXPECT_TRUE(RunSelf(ns.Name(), "QUORLIX_NETCAP_HELPER=" + helper.Path() + " QT_QPA_PLATFORM=offscreen",
                        "CapturePeerTest.AsMemberThroughTheHelper", true, helper.Group()));
}
