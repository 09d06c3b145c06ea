#include "whois/WhoisPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include "net/HostAddress.h"
#include "net/TargetText.h"
#include "templates/ControlIds.h"
#include "ui/DialogBuilder.h"
#include "ui/OutputPane.h"
#include "whois/WhoisQuery.h"
#include "whois/WhoisServerTable.h"

using namespace WhoisControls;

namespace {

// STOP appends nothing on this page.
constexpr ToolPage::TaskButton kTaskButton{kQueryButton, "QUERY", "STOP", nullptr};

// The page as the engine's output: each report queued for the page.
class PageOutput : public WhoisOutput {
public:
    PageOutput(TaskContext& context, ToolPage* page, std::string commandLine)
        : context_(context), page_(page), commandLine_(std::move(commandLine))
    {
    }
    void ClearOutput() override { context_.ClearOutput(); }
    void ShowAnswer(std::string_view text) override
    {
        // The command goes with the text it made: a failure leaves both as they were.
        context_.Post([page = page_, text = std::string(text), line = commandLine_] {
            page->Pane()->SetCommandLine(line);
            page->ClearOutput();
            page->AppendOutput(text);
        });
    }
    void ShowFailure(WhoisStatus status) override
    {
        const std::string_view text = WhoisStatusText(status);
        // A query refused before it is sent is bad input; the rest are failures.
        const MessageKind kind = status == WhoisStatus::QueryTooLong ? MessageKind::Warning : MessageKind::Failure;
        context_.Post([page = page_, shown = QString::fromLatin1(text.data(), qsizetype(text.size())), kind] {
            page->Message(shown, kind);
        });
    }

private:
    TaskContext& context_;
    ToolPage* page_;
    std::string commandLine_;
};

}  // namespace

WhoisPage::WhoisPage(QWidget* parent)
    : ToolPage(kTemplate, parent),
      queryBox_(Item<QComboBox>(kQueryBox)),
      queryButton_(Item<QPushButton>(kQueryButton)),
      chooseServer_(Item<QCheckBox>(kChooseServer)),
      serverBox_(Item<QComboBox>(kServerBox))
{
    for (std::string_view name : WhoisServerList())
        AddComboItem(serverBox_, QString::fromLatin1(name.data(), qsizetype(name.size())));
    serverBox_->setCurrentIndex(-1);
    serverBox_->setEditText(QString());
    Pane()->lower();

    connect(chooseServer_, &QCheckBox::toggled, this, [this](bool checked) { serverBox_->setEnabled(checked); });
    connect(queryButton_, &QPushButton::clicked, this, &WhoisPage::OnQueryButton);
}

void WhoisPage::OnQueryButton()
{
    Pane()->setFocus();
    // Checked first, whether the button reads QUERY or STOP.
    if (chooseServer_->isChecked() && serverBox_->currentText().isEmpty()) {
        Message(QStringLiteral("No Server Selected."), MessageKind::Failure);
        serverBox_->setFocus();
        return;
    }
    ToolPage::OnQueryButton(kTaskButton, [this]() -> WorkerTask::Job {
        WhoisRequest request;
        request.query = ControlText(kQueryBox, int(kWhoisQueryTextSize));
        if (!request.query.empty())
            AddToHistory(queryBox_, QString::fromStdString(request.query));
        if (chooseServer_->isChecked())
            request.chosenServer = ControlText(kServerBox, int(kWhoisHostSize));
        return [this, request](TaskContext& context) { RunQuery(request, context); };
    });
}

bool WhoisPage::Busy() const
{
    return TaskRunning(kTaskButton);
}

bool WhoisPage::OpenTarget(const HostTarget& target)
{
    if (Busy())
        return false;
    queryBox_->setEditText(QString::fromStdString(target.host));
    queryButton_->click();
    return true;
}

void WhoisPage::RunQuery(const WhoisRequest& request, TaskContext& context)
{
    if (request.query.empty())
        return;
    PageOutput output(context, this, WhoisCommandLine(request));
    WhoisWaits waits;
    waits.token = &context.Token();
    if (LooksLikeAddress(request.query)) {
        QueryAddressWhois(request.query, output, waits);
        return;
    }
    context.Post([this] { queryBox_->setFocus(); });
    QueryDomainWhois(request.query, request.chosenServer, output, waits);
}
