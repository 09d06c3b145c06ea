#include "mail/SmtpMailPage.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "mail/MailOperation.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"
#include "templates/ControlIds.h"
#include "ui/Author.h"

using namespace SmtpMailControls;

namespace {

constexpr int kInputs[] = {kAttachmentBox, kChooseButton, kFromBox, kMessageBox, kRemoveButton, kSubjectBox, kToBox};

}  // namespace

// Carries a send's texts to the page, queued for the user-interface thread,
// for as long as that send is the page's latest.
class SmtpMailPage::StatusSink : public MailSink {
public:
    StatusSink(SmtpMailPage* page, TaskContext& context, std::uint64_t send)
        : page_(page), context_(context), send_(send)
    {
    }

    void ShowStatus(std::string_view text) override
    {
        context_.Post([page = page_, send = send_, shown = QString::fromUtf8(text.data(), qsizetype(text.size()))] {
            if (page->latest_ != send)
                return;
            auto* status = page->Item<QLabel>(kStatusLine);
            status->setText(shown);
            status->repaint();
        });
    }
    void SetIdle() override
    {
        context_.Post([page = page_, send = send_] {
            if (page->latest_ == send)
                page->SetSendingState(true);
        });
    }

private:
    SmtpMailPage* page_;
    TaskContext& context_;
    std::uint64_t send_;
};

SmtpMailPage::SmtpMailPage(QWidget* parent) : ToolPage(kTemplate, parent)
{
    Item<QPlainTextEdit>(kMessageBox)->setTabChangesFocus(true);
    Item<QLabel>(kStatusLine)->setText(QStringLiteral("Idle"));
    connect(Item<QPushButton>(kSendButton), &QPushButton::clicked, this, &SmtpMailPage::OnSendButton);
    connect(Item<QPushButton>(kChooseButton), &QPushButton::clicked, this, &SmtpMailPage::OnChooseAttachment);
    connect(Item<QPushButton>(kRemoveButton), &QPushButton::clicked, this, &SmtpMailPage::OnRemoveAttachment);
    Item<QLineEdit>(kToBox)->setFocus();
}

SmtpMailPage::~SmtpMailPage()
{
    // The base destructor no longer reaches the override.
    SmtpMailPage::AbandonTasks();
    JoinTasks();
}

void SmtpMailPage::AbandonTasks()
{
    for (const Send& send : sends_)
        send.close->Cancel();
    ToolPage::AbandonTasks();
}

void SmtpMailPage::SetSendingState(bool idle)
{
    sending_ = !idle;
    for (const int id : kInputs)
        Item<QWidget>(id)->setEnabled(idle);
    Item<QPushButton>(kSendButton)->setText(idle ? QStringLiteral("Send") : QStringLiteral("Cancel"));
}

void SmtpMailPage::OnSendButton()
{
    auto* toBox = Item<QLineEdit>(kToBox);
    const QString to = toBox->text().trimmed().toLower();
    if (to.contains(QString::fromLatin1(kAuthorAddress).toLower())) {
        Message(QStringLiteral("Please use your own email program to Email me.\r\n\r\nThank You :)"), MessageKind::Plain);
        toBox->clear();
        toBox->setFocus();
        return;
    }
    const qsizetype at = to.indexOf(QLatin1Char('@'));
    if (at < 0) {
        Message(QStringLiteral("Not a valid email recipient"), MessageKind::Failure);
        toBox->setFocus();
        return;
    }
    if (to.indexOf(QLatin1Char('@'), at + 1) >= 0) {
        Message(QStringLiteral("Can only send to one recipient at a time."), MessageKind::Failure);
        toBox->setFocus();
        return;
    }
    if (sending_) {
        if (auto task = sends_.empty() ? nullptr : sends_.back().task.lock())
            task->Cancel();
        Item<QLabel>(kStatusLine)->setText(QStringLiteral("Aborting Operation..."));
        return;
    }
    StartSend();
}

void SmtpMailPage::StartSend()
{
    MailFields fields;
    fields.to = Item<QLineEdit>(kToBox)->text().toStdString();
    fields.from = Item<QLineEdit>(kFromBox)->text().toStdString();
    fields.subject = Item<QLineEdit>(kSubjectBox)->text().toStdString();
    fields.attachmentPath = QFile::encodeName(Item<QLineEdit>(kAttachmentBox)->text()).toStdString();
    // The edit keeps line feeds; the message has CR LF.
    QString body = Item<QPlainTextEdit>(kMessageBox)->toPlainText();
    body.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    fields.message = body.replace(QLatin1Char('\n'), QLatin1String("\r\n")).toStdString();

    if (const std::string problem = MailFieldProblem(fields); !problem.empty()) {
        Message(QString::fromStdString(problem), MessageKind::Warning);
        return;
    }
    if (!Message(QStringLiteral("Are You Sure You Want To Send The Message?"), MessageKind::Confirm))
        return;

    std::erase_if(sends_, [](const Send& send) { return send.task.expired(); });
    // Each send has its own number, cancel and close; the texts of older
    // sends no longer reach the page.
    const std::uint64_t number = ++latest_;
    auto close = std::make_shared<CancelToken>();
    auto task = StartTask([this, number, close, fields = std::move(fields)](TaskContext& context) {
        StatusSink sink(this, context, number);
        MailOperation operation(sink, context.Token(), *close);
        RunMailOperation(fields, operation);
    });
    if (task.expired())
        return;
    SetSendingState(false);
    sends_.push_back({std::move(task), std::move(close)});
}

void SmtpMailPage::OnChooseAttachment()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("(*.*) (*)"));
    if (!path.isEmpty())
        Item<QLineEdit>(kAttachmentBox)->setText(path);
}

void SmtpMailPage::OnRemoveAttachment()
{
    Item<QLineEdit>(kAttachmentBox)->clear();
}
