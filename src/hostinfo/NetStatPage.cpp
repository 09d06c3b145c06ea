#include "hostinfo/NetStatPage.h"

#include <arpa/inet.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <cerrno>
#include <memory>

#include "hostinfo/ConnectionTable.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"
#include "ui/PrivilegeHint.h"

using namespace NetStatControls;

namespace {

constexpr int kLineChars = 299;     // the line read back, as into a 300-character buffer

}  // namespace

NetStatPage::NetStatPage(QWidget* parent) : ToolPage(kTemplate, parent)
{
    connect(Item<QPushButton>(kRefreshButton), &QPushButton::clicked, this, &NetStatPage::RefreshConnections);
    connect(Item<QPushButton>(kKillButton), &QPushButton::clicked, this, &NetStatPage::KillSelectedConnection);
    // toggled, not clicked: a screen reader's Toggle changes the box without a click.
    connect(Item<QCheckBox>(kEnabledBox), &QCheckBox::toggled, this, &NetStatPage::OnAutoRefreshSwitch);
    connect(Item<QCheckBox>(kProgramsBox), &QCheckBox::toggled, this, &NetStatPage::RefreshConnections);
    connect(&autoRefresh_, &QTimer::timeout, this, &NetStatPage::RefreshConnections);
    RefreshConnections();
}

void NetStatPage::RefreshConnections()
{
    if (reading_) {
        again_ = true;
        return;
    }
    reading_ = true;
    const bool programs = Item<QCheckBox>(kProgramsBox)->isChecked();
    // The pane's text is prepared here too, over the table shown now: for a
    // long table that costs more than the read.
    auto shown = std::make_shared<const OutputPane::ShownText>(Pane()->Shown());
    const auto reader = StartTask([this, programs, shown](TaskContext& context) {
        auto text = std::make_shared<OutputPane::PreparedText>(
            OutputPane::PrepareText(ConnectionTableText(KernelSockDiag(), programs), shown.get()));
        context.Post([this, text] { ShowTable(std::move(*text)); });
    });
    if (reader.expired())
        ShowTable(OutputPane::PrepareText(ConnectionTableText(KernelSockDiag(), programs), shown.get()));
}

// In one step, so the pane never shows empty. The caret stays on its
// connection's line wherever that line moved, or goes to the end when the
// connection is gone, so that a kill never hits a row that slid under it; the
// view stays where the user left it, a first table is seen from its top.
void NetStatPage::ShowTable(OutputPane::PreparedText text)
{
    reading_ = false;
    OutputPane* pane = Pane();
    const QString caretLine = pane->document()->findBlock(pane->textCursor().selectionStart()).text();
    pane->ReplaceText(std::move(text), ConnectionChars(caretLine.left(kLineChars).toStdString()));
    if (again_) {
        again_ = false;
        QTimer::singleShot(0, this, &NetStatPage::RefreshConnections);
    }
}

void NetStatPage::KillSelectedConnection()
{
    OutputPane* pane = Pane();
    pane->setFocus();
    if (pane->document()->isEmpty()) {
        Message(QStringLiteral("Nothing Selected!"), MessageKind::Warning);
        return;
    }
    // The line where the selection starts, not its moving end.
    const QString text = pane->document()->findBlock(pane->textCursor().selectionStart()).text().left(kLineChars);
    const std::string shown = text.toStdString();
    const std::string_view line = WithoutOwners(shown);
    if (line.find("TCP ") == std::string_view::npos) {
        Message(QStringLiteral("This Is Not A Valid Connection"), MessageKind::Warning);
        return;
    }
    if (line.find("ESTAB") == std::string_view::npos) {
        Message(QStringLiteral("Can Only Kill Established Connections!"), MessageKind::Warning);
        return;
    }
    // Read before the question: a refresh while it is open must not change the connection.
    TcpRow row;
    if (!ReadConnectionLine(line, &row)) {
        Message(QStringLiteral("This Is Not A Valid Connection"), MessageKind::Warning);
        return;
    }
    if (!Message(QStringLiteral("Kill Connection?"), MessageKind::Confirm, text))
        return;
    // The exact connection, by the cookie of its lookup; a row of a dual-stack
    // socket through its IPv4-mapped addresses. Off the window's thread: it
    // may start the helper and wait for its answer, which closing the window
    // cuts short through the token.
    const std::uint16_t localPort = ntohs(std::uint16_t(row.localPort));
    const std::uint16_t remotePort = ntohs(std::uint16_t(row.remotePort));
    const TcpConnectionAddress connection =
        row.local6.IsV6() ? TcpConnectionAddress(row.local6, localPort, row.remote6, remotePort)
                          : TcpConnectionAddress(row.localAddr, localPort, row.remoteAddr, remotePort);
    const auto task = StartTask([this, connection](TaskContext& context) {
        const TcpKillResult result = KillTcpConnection(connection, &context.Token());
        // Queued on, so that the error box opens after the task's event has
        // returned, never inside it.
        context.Post([this, result] {
            QMetaObject::invokeMethod(this, [this, result] { KillFinished(result); }, Qt::QueuedConnection);
        });
    });
    if (task.expired()) {
        RefreshConnections();
        return;
    }
    killing_ = true;
    Item<QPushButton>(kKillButton)->setEnabled(false);
}

void NetStatPage::KillFinished(TcpKillResult result)
{
    killing_ = false;
    Item<QPushButton>(kKillButton)->setEnabled(true);
    if (result.failure != PrivilegeFailure::None || result.error != 0) {
        Message(QStringLiteral("Error: Unable To Kill Connection!"), MessageKind::Failure);
        PostPrivilegeHint(this, PrivilegedOperation::Kill, result.failure);
    }
    RefreshConnections();
}

void NetStatPage::OnAutoRefreshSwitch()
{
    if (!Item<QCheckBox>(kEnabledBox)->isChecked()) {
        autoRefresh_.stop();
        return;
    }
    auto* box = Item<QLineEdit>(kSecondsBox);
    bool ok = false;
    unsigned seconds = box->text().toUInt(&ok);
    if (!ok || seconds == 0) {
        box->setText(QStringLiteral("1"));
        seconds = 1;
    }
    autoRefresh_.start(int(seconds) * 1000);
}
