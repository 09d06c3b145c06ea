#include "tcpterm/TcpSocketPage.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "net/ByteText.h"
#include "net/TargetText.h"
#include "tcpterm/SendTextDialog.h"
#include "tcpterm/TerminalText.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"

using namespace TcpSocketControls;

namespace {

constexpr int kBoxChars = 300;  // the Host and Port boxes are read into buffers of this size

}  // namespace

TcpSocketPage::TcpSocketPage(QWidget* parent) : ToolPage(kTemplate, parent), socket_(this)
{
    auto* status = Item<QLabel>(kStatusLine);
    status->setWordWrap(false);
    socket_.SetOutput(Pane(), status);
    socket_.SetStatus("Closed");

    connect(Item<QPushButton>(kConnectButton), &QPushButton::clicked, this, &TcpSocketPage::OnConnectButton);
    connect(Item<QPushButton>(kListenButton), &QPushButton::clicked, this, &TcpSocketPage::OnListenButton);
    connect(Item<QPushButton>(kCloseButton), &QPushButton::clicked, this, &TcpSocketPage::OnCloseButton);
    connect(Item<QPushButton>(kClearButton), &QPushButton::clicked, this, &TcpSocketPage::OnClearOutput);
    connect(Item<QPushButton>(kSendButton), &QPushButton::clicked, this, &TcpSocketPage::OnSendButton);
}

void TcpSocketPage::AbandonTasks()
{
    ToolPage::AbandonTasks();
    socket_.Close();
}

bool TcpSocketPage::Busy() const
{
    return socket_.Valid();
}

bool TcpSocketPage::OpenTarget(const HostTarget& target)
{
    if (Busy())
        return false;
    Item<QLineEdit>(kHostBox)->setText(QString::fromStdString(target.host));
    if (target.port)
        Item<QLineEdit>(kPortBox)->setText(QString::number(*target.port));
    return true;
}

void TcpSocketPage::OnConnectButton()
{
    if (socket_.Valid())
        return;
    const std::string host = ControlText(kHostBox, kBoxChars);
    if (host.empty()) {
        Message(QStringLiteral("Invalid Host!"), MessageKind::Failure);
        Item<QLineEdit>(kHostBox)->setFocus();
        return;
    }
    const int port = PrepareSocket(false);
    if (!port)
        return;
    Pane()->SetCommandLine(NetcatCommandLine(host, std::uint16_t(port)));
    socket_.SetStatus("Connecting...");
    socket_.Connect(host, std::uint16_t(port));
}

int TcpSocketPage::PrepareSocket(bool forListening)
{
    const int port = ReadPortNumber(ControlText(kPortBox, kBoxChars));
    if (port < 1 || port > 65535) {
        Message(QStringLiteral("Invalid Port!"), MessageKind::Failure);
        Item<QLineEdit>(kPortBox)->setFocus();
        return 0;
    }
    if (!socket_.Create(forListening)) {
        Message(QStringLiteral("Unable To Create Socket!"), MessageKind::Failure);
        return 0;
    }
    return port;
}

void TcpSocketPage::OnListenButton()
{
    if (socket_.Valid())
        return;
    const int port = PrepareSocket(true);
    if (!port)
        return;
    if (socket_.Listen(std::uint16_t(port))) {
        Pane()->SetCommandLine(NetcatCommandLine({}, std::uint16_t(port)));
        socket_.SetStatus("Listening...");
    }
}

void TcpSocketPage::OnCloseButton()
{
    socket_.SetStatus("Closed");
    socket_.Close();
}

void TcpSocketPage::OnClearOutput()
{
    socket_.DiscardUnshown();
    ClearOutput();
}

void TcpSocketPage::OnSendButton()
{
    if (!socket_.Valid())
        return;
    std::string text;
    if (!SendTextDialog::Show(text, this))
        return;
    // The connection may have ended while the dialog was open.
    socket_.Send(text);
}
