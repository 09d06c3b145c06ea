#include "capture/CapturePage.h"

#include <net/if.h>
#include <netinet/in.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>
#include <utility>

#include "capture/CaptureCommand.h"
#include "net/Interfaces.h"
#include "net/ByteText.h"
#include "net/HostAddress.h"
#include "net/IpAddress.h"
#include "privilege/CaptureChannel.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"
#include "ui/PrivilegeHint.h"

using namespace CaptureControls;

namespace {

constexpr int kSettingControls[] = {kAddressList, kPortBox, kProtocolList, kDirectionList, kPacketInfoBox, kFormatList,
                                   kSaveButton};
constexpr int kBoxChars = 20;
// An IPv6 address with the zone of a link-local one.
constexpr int kIpv6BoxChars = INET6_ADDRSTRLEN + IF_NAMESIZE + 1;
// Past this much text waiting for the pane the capture reads no more until the
// pane has taken some, and the kernel counts what it drops meanwhile.
constexpr std::size_t kHeldText = 4 * 1024 * 1024;

class ChannelSource : public CaptureFrameSource {
public:
    int Fd() const override { return channel.Fd(); }
    int ReadFrame(std::uint8_t* buffer, std::size_t size, PacketFrameInfo& info) override
    {
        return int(channel.ReadFrame(buffer, size, info));
    }
    std::uint64_t Drops() override { return channel.Drops(); }

    CaptureChannel channel;
};

std::unique_ptr<CaptureFrameSource> OpenCaptureChannel(const std::string& interface, const CaptureSettings& settings,
                                                       const CancelToken& token, PrivilegeFailure& failure)
{
    auto source = std::make_unique<ChannelSource>();
    const bool opened = source->channel.Open(interface, settings, &token);
    failure = source->channel.Failure();
    return opened ? std::move(source) : nullptr;
}

QString ChooseCaptureFile(QWidget* parent)
{
    const QString path =
        QFileDialog::getSaveFileName(parent, QString(), QString(), QStringLiteral("pcapng files (*.pcapng)"));
    return path.isEmpty() || !QFileInfo(path).suffix().isEmpty() ? path : path + QStringLiteral(".pcapng");
}

}  // namespace

CapturePage::OpenCaptureFn CapturePage::openCapture = OpenCaptureChannel;
CapturePage::ChooseFileFn CapturePage::chooseSaveFile = ChooseCaptureFile;

CapturePage::CapturePage(QWidget* parent) : ToolPage(kTemplate, parent)
{
    for (const LocalAddress& a : ListLocalAddresses()) {
        char text[20];
        if (a.address.IsV6())
            Item<QComboBox>(kAddressList)->addItem(QString::fromStdString(IpText(a.address)));
        else if (AddressToText(a.address.V4(), text, sizeof text))
            Item<QComboBox>(kAddressList)->addItem(QString::fromLatin1(text));
    }
    connect(Item<QPushButton>(kStartButton), &QPushButton::clicked, this, &CapturePage::OnStartStop);
    connect(Item<QPushButton>(kClearButton), &QPushButton::clicked, this, &CapturePage::OnClearOutput);
    connect(Pane(), &OutputPane::TextLimitReached, this, &CapturePage::FullPaneStop);
    connect(Item<QPushButton>(kSaveButton), &QPushButton::clicked, this, &CapturePage::OnSaveToFile);
}

void CapturePage::SetCapturing(bool capturing)
{
    capturing_ = capturing;
    for (int id : kSettingControls)
        Item<QWidget>(id)->setEnabled(!capturing);
    Item<QPushButton>(kStartButton)->setText(capturing ? QStringLiteral("STOP") : QStringLiteral("START"));
}

void CapturePage::OnStartStop()
{
    if (!capturing_) {
        Start();
        return;
    }
    // STOP: the capture's token wakes its wait; nothing more of it is shown.
    if (auto capture = capture_.lock())
        capture->Abandon();
    SetCapturing(false);
}

void CapturePage::OnClearOutput()
{
    ClearOutput();
    Item<QPushButton>(kStartButton)->setFocus();
}

void CapturePage::Start()
{
    const int port = ReadPortNumber(ControlText(kPortBox, kBoxChars));
    if (port < 1 || port > 65535) {
        Message(QStringLiteral("Invalid Port Number!\n\nPort Value Must Be From 1 To 65535."), MessageKind::Warning);
        Item<QLineEdit>(kPortBox)->setFocus();
        return;
    }
    CaptureSettings settings;
    settings.portFilter = std::uint16_t(port);
    settings.protocolFilter = CaptureProtocol(Item<QComboBox>(kProtocolList)->currentIndex());
    settings.portDirection = PortDirection(Item<QComboBox>(kDirectionList)->currentIndex());
    settings.showPacketInfo = Item<QCheckBox>(kPacketInfoBox)->isChecked();
    settings.displayFormat = CaptureView(Item<QComboBox>(kFormatList)->currentIndex());

    // The capture is of the interface that owns the address, of the address's
    // IP version. An empty list gives no address, and address 0 would mean
    // every interface: refused.
    const IpAddress address = LookupHost(ControlText(kAddressList, kIpv6BoxChars));
    settings.ipVersion = address.IsV6() ? 6 : 4;
    const std::string interface = address.IsNone() ? std::string() : InterfaceOfAddress(ListLocalAddresses(), address);
    if (interface.empty()) {
        Message(QStringLiteral("Unable To Create Socket!"), MessageKind::Failure);
        return;
    }

    bool fileFailed = false;
    const int run = ++captureRun_;
    std::shared_ptr<PcapngWriter> file = OpenSaveFile(interface, run, fileFailed);
    if (fileFailed)
        return;

    // The task opens the capture too, as starting the helper may take a
    // while; STOP or the window's close end that wait through the token. The
    // capture owns its source: it is read by that capture only, and closed
    // once, as soon as the capture ends.
    auto job = [this, interface, settings, file, run](TaskContext& context) {
        PrivilegeFailure failure = PrivilegeFailure::None;
        const std::unique_ptr<CaptureFrameSource> source = openCapture(interface, settings, context.Token(), failure);
        if (!source) {
            context.Post([this, failure] {
                SetCapturing(false);
                // Queued on, so that the task ends before the box opens.
                QMetaObject::invokeMethod(
                    this,
                    [this, failure] {
                        Message(QStringLiteral("Unable To Create Socket!"), MessageKind::Failure);
                        PostPrivilegeHint(this, PrivilegedOperation::Capture, failure);
                    },
                    Qt::QueuedConnection);
            });
            return;
        }
        std::uint64_t handedDrops = 0;
        RunCaptureLoop(*source, settings, context.Token(), [&](const std::string& text, std::uint64_t drops) {
            if (drops != std::exchange(handedDrops, drops))
                context.Post([this, drops] {
                    if (capturing_ && drops != drops_)
                        ShowDrops(drops);
                });
            if (!text.empty())
                context.AppendOutput(text);
            return context.WaitForRoom(kHeldText);
        }, file.get());
        if (const int error = file ? file->Error() : 0)
            QMetaObject::invokeMethod(this, [this, run, error] { SaveFileFailed(run, error); }, Qt::QueuedConnection);
    };
    capture_ = StartTask(std::move(job));
    if (capture_.expired())
        return;
    Pane()->SetCommandLine(TcpdumpCommandLine(interface, settings));
    ShowDrops(0);
    SetCapturing(true);
}

void CapturePage::AppendTaskOutput(const std::string& text)
{
    if (!capturing_)
        return;
    // A capture started on a full pane stops at its first packet, as the pane
    // tells a full text only once until it is cleared. Never from inside this
    // event of the task: the stop opens a message box.
    if (PaneFull()) {
        QMetaObject::invokeMethod(this, &CapturePage::FullPaneStop, Qt::QueuedConnection);
        return;
    }
    AppendOutput(text);
}

void CapturePage::ShowDrops(std::uint64_t drops)
{
    // The pane's text is the packets' alone, so the count stands beside it.
    drops_ = drops;
    const QString note =
        drops ? QStringLiteral("Packets dropped by the kernel in this capture: %1").arg(drops) : QString();
    Pane()->setToolTip(note);
    Pane()->setAccessibleDescription(note);
}

bool CapturePage::PaneFull() const
{
    return Pane()->TextLimit() && Pane()->RawText().size() >= Pane()->TextLimit();
}

void CapturePage::FullPaneStop()
{
    // It comes after the append that filled the pane has returned; STOP or
    // Clear Output may have come between. The capture is stopped before the
    // message box opens and never waits on it.
    if (!capturing_ || !PaneFull())
        return;
    if (auto capture = capture_.lock())
        capture->Abandon();
    SetCapturing(false);
    Message(QStringLiteral("Packet Capturing Stopped!\r\n\r\nText Buffer Is Full.\r\n\r\n"
                           "Clear the Buffer before you Start Capturing again."),
            MessageKind::Warning);
}

void CapturePage::OnSaveToFile()
{
    if (capturing_)
        return;
    savePath_ = savePath_.isEmpty() ? chooseSaveFile(this) : QString();
    ShowSavePath();
}

void CapturePage::ShowSavePath()
{
    auto* button = Item<QPushButton>(kSaveButton);
    const QString note = savePath_.isEmpty() ? QString() : QStringLiteral("Saving to %1").arg(savePath_);
    button->setToolTip(note);
    button->setAccessibleDescription(note);
}

std::shared_ptr<PcapngWriter> CapturePage::OpenSaveFile(const std::string& interface, int run, bool& failed)
{
    failed = false;
    if (savePath_.isEmpty())
        return nullptr;
    int error = 0;
    const std::shared_ptr<PcapngWriter> last = lastFile_.lock();  // may still be closing the same file
    std::shared_ptr<PcapngWriter> file = PcapngWriter::Create(
        QFile::encodeName(savePath_).toStdString(), interface,
        [this, run](int failure) {
            QMetaObject::invokeMethod(this, [this, run, failure] { SaveFileFailed(run, failure); }, Qt::QueuedConnection);
        },
        error, last ? last->Closed() : std::shared_future<void>());
    if (!file) {
        failed = true;
        Message(QStringLiteral("Unable To Create File!\n\n%1\n\n%2").arg(savePath_, QString::fromLocal8Bit(std::strerror(error))),
                MessageKind::Failure);
    }
    lastFile_ = file;
    return file;
}

void CapturePage::SaveFileFailed(int run, int error)
{
    // Only while that capture still runs; after STOP the user has moved on.
    if (run != captureRun_ || !capturing_)
        return;
    if (auto capture = capture_.lock())
        capture->Abandon();
    SetCapturing(false);
    Message(QStringLiteral("Packet Capturing Stopped!\n\nUnable To Write File!\n\n%1\n\n%2")
                .arg(savePath_, QString::fromLocal8Bit(std::strerror(error))),
            MessageKind::Failure);
}
