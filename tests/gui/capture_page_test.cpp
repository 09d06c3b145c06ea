// The Packet Capture page driven through its controls, a socket pair in place of the interface's capture.

#include "capture/CapturePage.h"
#include "os/PollWait.h"
#include "support/CaptureFrames.h"
#include "support/GuiTest.h"
#include "support/TempFiles.h"
#include "ui/OutputPane.h"
#include "ui/PrivilegeHint.h"

using namespace CaptureControls;

namespace {

std::unique_ptr<FramePairSource> nextSource;  // what the next START opens; none: the helper refuses
std::string openedInterface;
CaptureSettings openedSettings;
std::atomic<int> openings = 0;
bool openWaits = false;
QString chosenFile;  // what the save dialog answers  // the next opening waits, as for a slow helper, until its token ends it

std::unique_ptr<CaptureFrameSource> OpenTestCapture(const std::string& interface, const CaptureSettings& settings,
                                                    const CancelToken& token, PrivilegeFailure& failure)
{
    if (std::exchange(openWaits, false))
        SleepUnlessCancelled(&token, 10000);
    failure = nextSource ? PrivilegeFailure::None : PrivilegeFailure::HelperDenied;
    std::unique_ptr<CaptureFrameSource> source = std::move(nextSource);  // taken before the count tells the test
    openedInterface = interface, openedSettings = settings, ++openings;
    return source;
}

Ipv4Frame Udp(std::string_view payload, std::uint16_t destPort = 80)  // 10.15.0.1:5353 -> 127.0.0.1:destPort
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
        CapturePage::chooseSaveFile = [](QWidget*) { return chosenFile; };
        page_ = std::make_unique<CapturePage>(nullptr);
        page_->show();
        auto* addresses = page_->Item<QComboBox>(kAddressList);
        addresses->setCurrentIndex(addresses->findText(QStringLiteral("127.0.0.1")));
    }
    void cleanup() { page_.reset(), nextSource.reset(); }

    void refusesBadPortsAndUnopenedCaptures()
    {
        MessageRecorder recorder;
        for (const char* port : {"", "0", "65536"}) {
            page_->Item<QLineEdit>(kPortBox)->setText(QString::fromLatin1(port));
            click(kStartButton);
        }
        QCOMPARE(recorder.Texts(), QStringList(3, "Invalid Port Number!\n\nPort Value Must Be From 1 To 65535."));
        ResetPrivilegeHints();
        page_->Item<QLineEdit>(kPortBox)->setText(QStringLiteral("80"));
        click(kStartButton);  // not in the helper's group: the hint follows, once
        QVERIFY(QTest::qWaitFor([&] { return recorder.Texts().size() == 5; }));
        click(kStartButton);
        QVERIFY(QTest::qWaitFor([&] { return recorder.Texts().size() == 6; }));
        openWaits = true;  // the opening runs in the capture's task, and STOP ends its wait
        const int before = openings;
        click(kStartButton);
        click(kStartButton);
        QVERIFY(QTest::qWaitFor([&] { return openings > before; }));
        page_->Item<QComboBox>(kAddressList)->clear();
        nextSource = std::make_unique<FramePairSource>();
        click(kStartButton);  // no address: never every interface
        QTest::qWait(50);
        const QString hint = PrivilegeHintText(PrivilegedOperation::Capture, PrivilegeFailure::HelperDenied);
        QCOMPARE(recorder.Texts().mid(3), QStringList({"Unable To Create Socket!", hint, "Unable To Create Socket!",
                                                       "Unable To Create Socket!"}));
        QVERIFY(nextSource && !page_->Capturing() && caption() == QStringLiteral("START"));
    }

    // Settings locked; CLEAR keeps the numbering; drops reach the tip; a receive error's line; STOP stays until pressed.
    void clearThenReceiveErrorThenStop()
    {
        page_->Item<QComboBox>(kFormatList)->setCurrentIndex(1);
        page_->Item<QCheckBox>(kPacketInfoBox)->setChecked(false);
        FramePairSource* pair = start();
        QVERIFY(openedInterface == "lo" && openedSettings.displayFormat == CaptureView::Text);
        QVERIFY(pair->Send(Udp("one")));
        QVERIFY(waitForPane(1));
        click(kClearButton);
        QCOMPARE(PaneText(page_.get()), "");
        for (int id : kSettings)
            QVERIFY(!page_->Item<QWidget>(id)->isEnabled());
        pair->drops = 2;
        QVERIFY(pair->Send(Udp("ab\r\n", 81)));  // filtered out
        QVERIFY(QTest::qWaitFor([&] { return page_->Pane()->toolTip().endsWith(QStringLiteral(": 2")); }));
        QVERIFY(pair->Send(Udp("two")) && pair->Send(Udp("ab\r\n")));
        pair->CloseSender();
        const std::string text = "PACKET No: 2\r\ntwo\r\nPACKET No: 3\r\nab\r\n\r\n\r\n\r\nSocket Error Encountered!";
        QVERIFY(waitForPane(text.size()));
        QCOMPARE(caption(), QStringLiteral("STOP"));
        click(kStartButton);
        for (int id : kSettings)
            QVERIFY(page_->Item<QWidget>(id)->isEnabled());
        QCOMPARE(caption() + QString::fromStdString(PaneText(page_.get())), "START" + QString::fromStdString(text));
    }

    // At 1,000,000 characters the capture stops with one message and its file is finished; started again on the full
    // pane, at its first packet.
    void fullPaneStopsOnceAndCountsAgainAfterClear()
    {
        bool boxInTaskCall = false;
        MessageRecorder recorder([&](const QString&) { return (boxInTaskCall |= page_->TasksInUiCall()), true; });
        TempFiles files("capture-full-pane");
        chosenFile = QString::fromStdString(files.Path("full.pcapng"));
        click(kSaveButton);
        FramePairSource* pair = start();
        const int sender = pair->DupSender();
        const auto frame = Udp(std::string(1972, 'q')).Bytes();
        for (int sent = 0; page_->Capturing() && sent < 1000;)
            if (FramePairSource::SendBytes(sender, frame) || (QTest::qWait(1), false))
                ++sent;
        ::close(sender);
        QVERIFY(QTest::qWaitFor([&] { return !recorder.Texts().isEmpty(); }));
        QCOMPARE(recorder.Texts(), QStringList("Packet Capturing Stopped!\r\n\r\nText Buffer Is Full.\r\n\r\n"
                                               "Clear the Buffer before you Start Capturing again."));
        QVERIFY(PaneText(page_.get()).size() == 1000000 && caption() == "START");
        const std::size_t shown = std::stoul(PaneText(page_.get()).substr(PaneText(page_.get()).rfind("PACKET No: ") + 11));
        std::uint32_t last = 0;  // the file holds what the pane shows, and more, and is finished
        QVERIFY(QTest::qWaitFor([&] { return SavedPackets(chosenFile.toStdString(), last).size() >= shown && last == 5; }));
        QVERIFY(start()->Send(Udp("x")));
        QVERIFY(QTest::qWaitFor([&] { return recorder.Texts().size() == 2; }));
        QVERIFY(caption() == "START" && !boxInTaskCall);
        click(kClearButton);
        QVERIFY(start()->Send(Udp("x")));
        QVERIFY(waitForPane(1));
        QVERIFY(PaneText(page_.get()).starts_with("PACKET No: 1\r\n"));
    }

    // Save To File: a cancelled dialog, a name shown; the None view's packets with their times; a second press clears.
    void saveToFileInTheNoneView()
    {
        TempFiles files("capture-page");
        chosenFile = QString();
        click(kSaveButton);
        chosenFile = QString::fromStdString(files.Path("none.pcapng"));
        click(kSaveButton);
        QCOMPARE(page_->Item<QPushButton>(kSaveButton)->accessibleDescription(), "Saving to " + chosenFile);
        page_->Item<QComboBox>(kFormatList)->setCurrentIndex(2);
        FramePairSource* pair = start();
        QVERIFY(pair->Send(Udp("one")) && pair->Send(Udp("two", 81)) && pair->Send(Udp("three")));
        QVERIFY(waitForPane(28));
        click(kStartButton);
        std::uint32_t last = 0;
        std::vector<std::int64_t> times;
        QVERIFY(QTest::qWaitFor([&] { return times.clear(), SavedPackets(chosenFile.toStdString(), last, &times), last == 5; }));
        QCOMPARE(times, std::vector<std::int64_t>({31000, 33000}));  // a microsecond a byte in the test's source
        click(kSaveButton);
        QVERIFY(page_->SavePath().isEmpty() && page_->Item<QPushButton>(kSaveButton)->toolTip().isEmpty());
    }

private:
    static constexpr int kSettings[] = {kAddressList, kPortBox, kProtocolList, kDirectionList, kPacketInfoBox, kFormatList,
                                        kSaveButton};

    void click(int id) { QTest::mouseClick(page_->Item<QPushButton>(id), Qt::LeftButton); }
    QString caption() const { return page_->Item<QPushButton>(kStartButton)->text(); }
    FramePairSource* start()
    {
        nextSource = std::make_unique<FramePairSource>();
        FramePairSource* pair = nextSource.get();
        const int before = openings;
        click(kStartButton);
        const bool ok = QTest::qWaitFor([&] { return openings > before; }) && !nextSource && caption() == QStringLiteral("STOP");
        return ok ? pair : nullptr;
    }
    bool waitForPane(std::size_t size) { return QTest::qWaitFor([&] { return PaneText(page_.get()).size() >= size; }); }

    std::unique_ptr<CapturePage> page_;
};

QTEST_MAIN(CapturePageTest)
#include "capture_page_test.moc"
