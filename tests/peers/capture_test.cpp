// The Packet Capture page on real interfaces: known packets sent on loopback,
// and across a veth pair between two namespaces the test makes, with the exact
// text the pane shows for each view and filter. Needs root; the run as a
// member of the group quorlix through the helper is its own test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "app/OutputPane.h"
#include "capture/CapturePage.h"
#include "support/CaptureTraffic.h"
#include "support/GuiTest.h"
#include "support/PrivilegeTest.h"
#include "platform/NetcapClient.h"

namespace {

constexpr int kAddressList = 1013, kProtocolList = 1015, kDirectionList = 1016, kInfoBox = 1017, kStart = 1019,
              kClear = 1020, kFormatList = 1021, kPortBox = 1022;
constexpr std::uint16_t kPort = 5015;
constexpr std::string_view kTwenty = "GET / HTTP/1.0\r\n\r\nxy";
constexpr std::string_view kSixteen = "0123456789abcdef";
constexpr std::string_view kSeventeen = "0123456789abcdef\xe9";

Ipv4Frame Packet(std::uint8_t protocol, std::string_view payload, std::uint32_t source = 0x7F0F0001,
                 std::uint32_t dest = 0x7F0F0002)
{
    Ipv4Frame f;
    f.protocol = protocol;
    f.source = source;
    f.dest = dest;
    f.sourcePort = 1025;
    f.destPort = kPort;
    f.payload = payload;
    return f;
}

// The traffic of every case, in the order it is sent: six packets to print,
// and an acknowledgement, an ICMP echo and a later fragment whose bytes 20-23
// look like ports 1025 -> 5015, none of which may be printed.
std::vector<Ipv4Frame> Traffic(std::uint32_t source, std::uint32_t dest)
{
    return {
        Packet(6, kTwenty, source, dest),
        Packet(6, "", source, dest),
        With(Packet(6, kTwenty, source, dest), [](auto& f) { f.tcpDataOffset = 8; }),
        With(Packet(6, kTwenty, source, dest), [](auto& f) { f.ipOptionWords = 2; }),
        With(Packet(17, "abcd", source, dest), [](auto& f) { f.protocol = 1; }),
        Packet(17, "abcd", source, dest),
        With(Packet(17, "abcd", source, dest), [](auto& f) { f.fragmentOffset = 3; }),
        Packet(17, kSixteen, source, dest),
        Packet(17, kSeventeen, source, dest),
    };
}

std::string Info(int number, const char* from, const char* to, const char* protocol, int bytes)
{
    char text[200];
    std::snprintf(text, sizeof text, "PACKET No: %d\r\nSource: %s:1025\r\nDest  : %s:5015\r\nProtocol: %s,  Data Bytes: %d\r\n",
                  number, from, to, protocol, bytes);
    return text;
}

// The pane for Traffic() in the Data view with the packet lines.
std::string DumpText(const char* from, const char* to)
{
    const std::string tcp = "000:  47 45 54 20 2f 20 48 54  54 50 2f 31 2e 30 0d 0a  GET / HTTP/1.0..\r\n"
                            "010:  0d 0a 78 79" + std::string(39, ' ') + "..xy\r\n";
    return Info(1, from, to, "TCP", 20) + tcp + Info(2, from, to, "TCP", 20) + tcp + Info(3, from, to, "TCP", 20) +
           tcp + Info(4, from, to, "UDP", 4) + "000:  61 62 63 64" + std::string(39, ' ') + "abcd\r\n" +
           Info(5, from, to, "UDP", 16) +
           "000:  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  0123456789abcdef\r\n" +
           Info(6, from, to, "UDP", 17) +
           "000:  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  0123456789abcdef\r\n"
           "010:  e9" + std::string(48, ' ') + ".\r\n";
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

    // A new page capturing on address with the given settings; false when it could not start.
    bool Start(const char* address, int format, bool info, int protocol = 0, int direction = 0, int port = kPort)
    {
        if (!page_)
            page_ = std::make_unique<CapturePage>(nullptr);
        auto* list = page_->Item<QComboBox>(kAddressList);
        list->setCurrentIndex(list->findText(QString::fromLatin1(address)));
        page_->Item<QLineEdit>(kPortBox)->setText(QString::number(port));
        page_->Item<QComboBox>(kProtocolList)->setCurrentIndex(protocol);
        page_->Item<QComboBox>(kDirectionList)->setCurrentIndex(direction);
        page_->Item<QCheckBox>(kInfoBox)->setChecked(info);
        page_->Item<QComboBox>(kFormatList)->setCurrentIndex(format);
        MessageRecorder recorder;
        QTest::mouseClick(page_->Item<QPushButton>(kClear), Qt::LeftButton);
        QTest::mouseClick(page_->Item<QPushButton>(kStart), Qt::LeftButton);
        EXPECT_EQ(recorder.Texts(), QStringList()) << address;
        return page_->Capturing();
    }
    void Stop() { QTest::mouseClick(page_->Item<QPushButton>(kStart), Qt::LeftButton); }
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

TEST_F(CapturePeerTest, LoopbackViewsAndNumbering)
{
    const struct {
        int format;
        bool info;
        std::string text;
    } views[] = {
        {0, true, DumpText("127.15.0.1", "127.15.0.2")},
        {1, false, "PACKET No: 1\r\nGET / HTTP/1.0\r\n\r\nxy\r\nPACKET No: 2\r\nGET / HTTP/1.0\r\n\r\nxy\r\n"
                   "PACKET No: 3\r\nGET / HTTP/1.0\r\n\r\nxy\r\nPACKET No: 4\r\nabcd\r\nPACKET No: 5\r\n0123456789abcdef\r\n"
                   "PACKET No: 6\r\n0123456789abcdef.\r\n"},
        {2, false, "PACKET No: 1\r\nPACKET No: 2\r\nPACKET No: 3\r\nPACKET No: 4\r\nPACKET No: 5\r\nPACKET No: 6\r\n"},
    };
    for (const auto& view : views) {
        START_OR_FAIL("127.0.0.1", view.format, view.info);
        ASSERT_TRUE(SendRawPackets(Traffic(0x7F0F0001, 0x7F0F0002)));
        EXPECT_EQ(Pane(view.text.size()), view.text) << view.format;
        Stop();
    }
}

TEST_F(CapturePeerTest, LoopbackFilters)
{
    // TCP 1025 -> 5015, UDP 5015 -> 1025, UDP 1025 -> 5016: which come through.
    const std::vector<Ipv4Frame> traffic = {
        Packet(6, kTwenty),
        With(Packet(17, "abcd"), [](auto& f) { std::swap(f.sourcePort, f.destPort); }),
        With(Packet(17, "abcd"), [](auto& f) { f.destPort = kPort + 1; }),
    };
    const struct {
        int protocol, direction, port;
        std::string sources;  // the source ports printed, in order
    } cases[] = {
        {0, 0, kPort, "1025 5015 "}, {1, 0, kPort, "1025 "}, {2, 0, kPort, "5015 "},
        {0, 1, kPort, "5015 "},      {0, 2, kPort, "1025 "}, {0, 2, kPort + 1, "1025 "},
        {2, 1, 1025, "1025 "},
    };
    for (const auto& c : cases) {
        START_OR_FAIL("127.0.0.1", 2, true, c.protocol, c.direction, c.port);
        ASSERT_TRUE(SendRawPackets(traffic));
        const std::string pane = Pane(1);
        std::string sources;
        for (std::size_t at = 0; (at = pane.find("Source: 127.15.0.1:", at)) != std::string::npos; at += 19)
            sources += pane.substr(at + 19, 4) + " ";
        EXPECT_EQ(sources, c.sources) << c.protocol << c.direction << c.port;
        Stop();
    }
}

// Across a veth pair, frames under 60 bytes arrive padded: the padding is never data.
TEST_F(CapturePeerTest, VethWithEthernetPadding)
{
    VethPair pair("qx15-" + std::to_string(getpid()) + "-");
    ASSERT_TRUE(pair.Up());
    VethPair::Entered inside(pair.Namespace('b'));
    ASSERT_TRUE(inside.Ok());
    START_OR_FAIL("10.215.0.2", 0, true);
    const auto traffic = Traffic(0x0AD70001, 0x0AD70002);
    bool sent = false;
    ASSERT_TRUE(pair.RunIn('a', [&] { sent = SendPaddedFrames("a0", traffic); }));
    ASSERT_TRUE(sent);
    const std::string expected = DumpText("10.215.0.1", "10.215.0.2");
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
    START_OR_FAIL("127.0.0.1", 0, true);
    std::uint16_t port = kPort, source = 0;
    const int sender = UdpSocket(source);
    SendUdp(sender, "127.0.0.1", port, "abcd");
    close(sender);
    const std::string from = "127.0.0.1:" + std::to_string(source);
    const std::string expected = "PACKET No: 1\r\nSource: " + from + "\r\nDest  : 127.0.0.1:5015\r\n"
                                 "Protocol: UDP,  Data Bytes: 4\r\n000:  61 62 63 64" + std::string(39, ' ') + "abcd\r\n";
    EXPECT_EQ(Pane(expected.size()), expected);
    Stop();
}

TEST_F(CapturePeerTest, UnprivilegedMember)
{
    if (std::getenv("QUORLIX_NETCAP_HELPER"))
        GTEST_SKIP() << "the member's own run";
    VethPair pair("qx15m-" + std::to_string(getpid()) + "-");
    InstalledHelperCopy helper;
    ASSERT_TRUE(pair.Up());
    ASSERT_TRUE(helper.Ready());
    EXPECT_TRUE(RunSelf(pair.Namespace('a'), "QUORLIX_NETCAP_HELPER=" + helper.Path() + " QT_QPA_PLATFORM=offscreen",
                        "CapturePeerTest.AsMemberThroughTheHelper", true, helper.Group()));
}
