#include "icmp/EchoToolPage.h"

#include <QComboBox>
#include <QPushButton>

#include "icmp/EchoProbe.h"
#include "net/TargetText.h"
#include "ui/OutputPane.h"
#include "ui/PrivilegeHint.h"

namespace {

constexpr int kHostChars = 300;  // the bounded read, terminator included

static_assert(TraceControls::kHostBox == PingControls::kHostBox &&
              TraceControls::kQueryButton == PingControls::kQueryButton);

}  // namespace

EchoToolPage::EchoToolPage(int templateId, Tool tool, CommandLineOf commandLine, QWidget* parent)
    : ToolPage(templateId, parent), tool_(tool), commandLine_(commandLine)
{
    Pane()->lower();
    Item<QComboBox>(kHostBox)->setFocus();
    connect(Item<QPushButton>(kQueryButton), &QPushButton::clicked, this, [this] { OnQueryButton(); });
}

void EchoToolPage::OnQueryButton()
{
    ToolPage::OnQueryButton({kQueryButton}, [this]() -> WorkerTask::Job {
        const std::string host = ControlText(kHostBox, kHostChars);
        if (!host.empty()) {
            AddToHistory(Item<QComboBox>(kHostBox), QString::fromStdString(host));
            Pane()->SetCommandLine(commandLine_(host));
        }
        return [this, host](TaskContext& task) {
            if (host.empty())
                return;
            task.ClearOutput();
            EchoProbe own;
            EchoProbe& probe = probe_ ? *probe_ : own;
            tool_(host, [&](std::string_view text) { task.AppendOutput(text); }, probe, &task.Token());
            if (PrivilegeFailure failure = probe.Failure(); failure != PrivilegeFailure::None)
                task.Post([this, failure] { PostPrivilegeHint(this, PrivilegedOperation::Echo, failure); });
        };
    });
}

bool EchoToolPage::Busy() const
{
    return TaskRunning({kQueryButton});
}

bool EchoToolPage::OpenTarget(const HostTarget& target)
{
    if (Busy())
        return false;
    Item<QComboBox>(kHostBox)->setEditText(QString::fromStdString(target.host));
    Item<QPushButton>(kQueryButton)->click();
    return true;
}

PingPage::PingPage(QWidget* parent) : EchoToolPage(PingControls::kTemplate, RunPing, PingCommandLine, parent) {}

TracePage::TracePage(QWidget* parent) : EchoToolPage(TraceControls::kTemplate, RunTrace, TraceCommandLine, parent) {}
