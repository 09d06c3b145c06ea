// The Packet Capture page driven through its controls, with a socket pair in
// place of the interface's capture: the frames a test sends are the packets
// the page sees. Real interfaces are in tests/peers/capture_test.cpp.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "capture/CapturePage.h"
#include "os/PollWait.h"
#include "support/FramePairSource.h"
#include "support/GuiTest.h"
#include "ui/OutputPane.h"
#include "ui/PrivilegeHint.h"

using namespace CaptureControls;

namespace {

// What the next START opens, and what it was asked for.
std::unique_ptr<FramePairSource> nextSource;
std::string openedInterface;
CaptureSettings openedSettings;
std::atomic<int> openings = 0;  // those done, on the capture's thread
bool openWaits = false;  // the next opening waits, as for a slow helper, until its token ends it

std::unique_ptr<CaptureFrameSource> OpenTestCapture(const std::string& interface, const CaptureSettings& settings,
                                                    const CancelToken& token, PrivilegeFailure& failure)
{
    if (std::exchange(openWaits, false))
        SleepUnlessCancelled(&token, 10000);
    failure = nextSource ? PrivilegeFailure::None : PrivilegeFailure::HelperDenied;
    openedInterface = interface;
    openedSettings = settings;
    std::unique_ptr<CaptureFrameSource> source = std::move(nextSource);
    ++openings;
    return source;
}

// UDP 10.15.0.1:5353 -> 127.0.0.1:destPort.
Ipv4Frame Udp(std::string_view payload, std::uint16_t destPort = 80)
{
    return {.protocol = 17, .source = 0x0A0F0001, .sourcePort = 5353, .destPort = destPort, .payload = payload};
}

}  // namespace

class CapturePageTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        CapturePage::openCapture = OpenTestCapture;
        page_ = std::make_unique<CapturePage>(nullptr);
        page_->show();
        auto* addresses = page_->Item<QComboBox>(kAddressList);
        addresses->setCurrentIndex(addresses->findText(QStringLiteral("127.0.0.1")));
    }
    void cleanup()
    {
        page_.reset();
        nextSource.reset();
    }

    void refusesBadPortsAndUnopenedCaptures()
    {
        MessageRecorder recorder;
        for (const char* port : {"", "0", "65536", "99999"}) {
            page_->Item<QLineEdit>(kPortBox)->setText(QString::fromLatin1(port));
            click(kStartButton);
        }
        QCOMPARE(recorder.Texts(), QStringList(4, "Invalid Port Number!\n\nPort Value Must Be From 1 To 65535."));
        QCOMPARE(recorder.Messages()[0].kind, MessageKind::Warning);

        ResetPrivilegeHints();
        page_->Item<QLineEdit>(kPortBox)->setText(QStringLiteral("80"));
        click(kStartButton);  // not in the helper's group: the hint follows, once
        QVERIFY(QTest::qWaitFor([&] { return recorder.Texts().size() == 6; }));
        click(kStartButton);
        QVERIFY(QTest::qWaitFor([&] { return recorder.Texts().size() == 7; }));
        openWaits = true;  // the opening runs in the capture's task, and STOP ends its wait
        const int before = openings;
        click(kStartButton);
        click(kStopButton);
        QVERIFY(QTest::qWaitFor([&] { return openings > before; }));
        page_->Item<QComboBox>(kAddressList)->clear();
        nextSource = std::make_unique<FramePairSource>();
        click(kStartButton);  // no address: never every interface
        QTest::qWait(50);
        const QString hint = PrivilegeHintText(PrivilegedOperation::Capture, PrivilegeFailure::HelperDenied);
        QCOMPARE(recorder.Texts().mid(4), QStringList({"Unable To Create Socket!", hint, "Unable To Create Socket!",
                                                       "Unable To Create Socket!"}));
        QCOMPARE(recorder.Messages()[4].kind, MessageKind::Failure);
        QVERIFY(nextSource);
        QVERIFY(!page_->Capturing());
        QCOMPARE(caption(), QStringLiteral("START"));
    }

    // The settings are locked while a capture runs and CLEAR leaves the
    // numbering alone; a receive error adds its line after what came before,
    // and STOP stays until pressed, adding nothing.
    void clearThenReceiveErrorThenStop()
    {
        page_->Item<QComboBox>(kFormatList)->setCurrentIndex(1);
        page_->Item<QCheckBox>(kPacketInfoBox)->setChecked(false);
        FramePairSource* pair = start();
        QCOMPARE(openedInterface, "lo");
        QCOMPARE(openedSettings.displayFormat, CaptureView::Text);
        QVERIFY(pair->Send(Udp("one")));
        QVERIFY(waitForPane(1));
        click(kClearButton);
        QCOMPARE(PaneText(page_.get()), "");
        QVERIFY(page_->Capturing());
        for (int id : kSettings)
            QVERIFY(!page_->Item<QWidget>(id)->isEnabled());
        pair->drops = 2;  // reaches the page without a packet to carry it
        QVERIFY(pair->Send(Udp("ab\r\n", 81)));  // filtered out
        QVERIFY(QTest::qWaitFor([&] { return page_->Pane()->toolTip().endsWith(QStringLiteral(": 2")); }));
        QVERIFY(pair->Send(Udp("two")));
        QVERIFY(pair->Send(Udp("ab\r\n")));
        pair->CloseSender();
        const std::string text = "PACKET No: 2\r\ntwo\r\nPACKET No: 3\r\nab\r\n\r\n\r\n\r\nSocket Error Encountered!";
        QVERIFY(waitForPane(text.size()));
        QTest::qWait(50);
        QCOMPARE(caption(), QStringLiteral("STOP"));
        click(kStopButton);
        QCOMPARE(caption(), QStringLiteral("START"));
        for (int id : kSettings)
            QVERIFY(page_->Item<QWidget>(id)->isEnabled());
        QCOMPARE(PaneText(page_.get()), text);
    }

    // At 1,000,000 characters as written the capture stops, with one message.
    void fullPaneStopsOnceAndCountsAgainAfterClear()
    {
        bool boxInTaskCall = false;
        MessageRecorder recorder([&](const QString&) { return (boxInTaskCall |= page_->TasksInUiCall()), true; });
        const std::string payload(1972, 'q');
        FramePairSource* pair = start();
        const int sender = pair->DupSender();
        const auto frame = Udp(payload).Bytes();
        for (int sent = 0; page_->Capturing() && sent < 1000;)
            if (FramePairSource::SendBytes(sender, frame))
                ++sent;
            else
                QTest::qWait(1);
        ::close(sender);
        QVERIFY(QTest::qWaitFor([&] { return !recorder.Texts().isEmpty(); }));
        QTest::qWait(50);
        QCOMPARE(recorder.Texts(), QStringList("Packet Capturing Stopped!\r\n\r\nText Buffer Is Full.\r\n\r\n"
                                               "Clear the Buffer before you Start Capturing again."));
        QCOMPARE(recorder.Messages()[0].kind, MessageKind::Warning);
        QCOMPARE(PaneText(page_.get()).size(), size_t(1000000));
        QCOMPARE(caption(), QStringLiteral("START"));

        // Started again on the full pane: stopped again at its first packet.
        pair = start();
        QVERIFY(pair->Send(Udp("x")));
        QVERIFY(QTest::qWaitFor([&] { return recorder.Texts().size() == 2; }));
        QCOMPARE(caption(), QStringLiteral("START"));
        QCOMPARE(recorder.Texts()[1], recorder.Texts()[0]);
        QVERIFY(!boxInTaskCall);

        click(kClearButton);
        pair = start();
        QVERIFY(pair->Send(Udp("x")));
        QVERIFY(waitForPane(1));
        QVERIFY(PaneText(page_.get()).starts_with("PACKET No: 1\r\n"));

        // A full pane told after Clear Output, or after STOP, stops nothing.
        for (int id : {kClearButton, kStopButton}) {
            page_->Pane()->SetTextLimit(page_->Pane()->RawText().size() + 1);
            page_->Pane()->Append("xx");
            page_->Item<QPushButton>(id)->click();
            QTest::qWait(50);
            QVERIFY(recorder.Texts().size() == 2 && page_->Capturing() == (id == kClearButton));
        }
    }

private:
    static constexpr int kStopButton = kStartButton;  // one button, captioned STOP while capturing
    static constexpr int kSettings[] = {kAddressList,   kPortBox,       kProtocolList,
                                        kDirectionList, kPacketInfoBox, kFormatList};

    void click(int id) { QTest::mouseClick(page_->Item<QPushButton>(id), Qt::LeftButton); }
    QString caption() const { return page_->Item<QPushButton>(kStartButton)->text(); }

    // Starts a capture on a new socket pair and gives the test its sending end.
    FramePairSource* start()
    {
        nextSource = std::make_unique<FramePairSource>();
        FramePairSource* pair = nextSource.get();
        const int before = openings;
        click(kStartButton);
        if (!QTest::qWaitFor([&] { return openings > before; }) || nextSource || caption() != QStringLiteral("STOP"))
            return nullptr;
        return pair;
    }
    bool waitForPane(std::size_t size)
    {
        return QTest::qWaitFor([&] { return PaneText(page_.get()).size() >= size; });
    }

    std::unique_ptr<CapturePage> page_;
};

QTEST_MAIN(CapturePageTest)
#include "capture_page_test.moc"
