#include "icmp/TracePage.h"

#include <QComboBox>
#include <QPushButton>

#include "app/OutputPane.h"
#include "icmp/EchoReports.h"
#include "icmp/IcmpPrivilegeHint.h"
#include "platform/ThreadCancel.h"

namespace {

constexpr int kHostChars = 300;  // the bounded read, terminator included

}  // namespace

TracePage::TracePage(QWidget* parent) : ToolPage(133, parent)
{
    Pane()->lower();
    Item<QComboBox>(kHostBox)->setFocus();
    connect(Item<QPushButton>(kQueryButton), &QPushButton::clicked, this, [this] { OnQueryButton(); });
}

void TracePage::OnQueryButton()
{
    ToolPage::OnQueryButton({kQueryButton}, [this](TaskContext& task) {
        const std::string host = task.ControlText(kHostBox, kHostChars);
        if (host.empty())
            return;
        task.AddToHistory(kHostBox, host);
        task.ClearOutput();
        ThreadCancelScope cancel(&task.Token());  // STOP wakes the echo's wait
        RunTrace(host, [&](std::string_view text) { task.AppendOutput(text); }, &task.Token());
        if (IcmpOpenFailure failure = LastIcmpOpenFailure(); failure != IcmpOpenFailure::None)
            task.RunOnUi([&] { PostIcmpPrivilegeHint(this, failure); });
    });
}
