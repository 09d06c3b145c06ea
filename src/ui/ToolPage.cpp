#include "ui/ToolPage.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

#include "ui/DialogBuilder.h"
#include "ui/OutputPane.h"
#include "ui/PaneMenu.h"

ToolPage::ToolPage(int templateId, QWidget* parent) : QWidget(parent)
{
    Build(LoadDialogTemplate(templateId));
}

ToolPage::ToolPage(const DialogTemplate& dlg, QWidget* parent) : QWidget(parent)
{
    Build(dlg);
}

ToolPage::~ToolPage()
{
    AbandonTasks();
    JoinTasks();
}

void ToolPage::Build(const DialogTemplate& dlg)
{
    BuiltDialog built = BuildDialog(dlg, this);
    items_ = std::move(built.items);
    defaultButton_ = built.defaultButton;
    pane_ = built.pane;
    setFixedSize(built.size);
    setAccessibleName(QString::fromStdString(dlg.title));
    if (pane_)
        pane_->setFont(OutputFont(pane_->font()));
}

void ToolPage::AppendOutput(std::string_view text)
{
    if (pane_)
        pane_->Append(text);
}

void ToolPage::ClearOutput()
{
    if (pane_)
        pane_->Clear();
}

void ToolPage::AddToHistory(QComboBox* combo, const QString& text)
{
    if (combo->findText(text, Qt::MatchFixedString) >= 0)  // MatchFixedString ignores case
        return;
    combo->insertItem(0, text);
}

std::string ToolPage::ControlText(int id, int maxChars) const
{
    QWidget* w = items_.value(id);
    QString text;
    if (auto* combo = qobject_cast<QComboBox*>(w))
        text = combo->currentText();
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        text = edit->text();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        text = plain->toPlainText();
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        text = button->text();
    return text.left(maxChars > 0 ? maxChars - 1 : 0).toStdString();
}

bool ToolPage::TaskRunning(const TaskButton& button) const
{
    return buttonTasks_.contains(button.id);
}

std::weak_ptr<WorkerTask> ToolPage::StartTask(WorkerTask::Job job)
{
    // Finished tasks are joined now; an abandoned one still ending stays, and
    // so does one whose event is on the stack below this call.
    std::erase_if(tasks_, [](const auto& t) {
        if (!t->Finished())
            return false;
        t->Join();
        return true;
    });
    auto task = std::make_shared<WorkerTask>();
    if (!task->Start(this, std::move(job))) {
        Message(QStringLiteral("Unable To Create Thread!"), MessageKind::Failure);
        return {};
    }
    tasks_.push_back(task);
    return task;
}

void ToolPage::OnQueryButton(const TaskButton& button, const std::function<WorkerTask::Job()>& prepare)
{
    auto* b = Item<QAbstractButton>(button.id);
    if (!TaskRunning(button)) {
        // The end comes only from a task not abandoned, hence still the button's.
        auto frame = [this, job = prepare(), id = button.id, idle = button.idle](TaskContext& context) {
            job(context);
            context.Post([this, id, idle] {
                Item<QAbstractButton>(id)->setText(QString::fromLatin1(idle));
                buttonTasks_.erase(id);
            });
        };
        auto task = StartTask(std::move(frame));
        if (task.expired())
            return;
        buttonTasks_[button.id] = task;
        b->setText(QString::fromLatin1(button.running));
        return;
    }
    if (auto task = buttonTasks_[button.id].lock())
        task->Abandon(true);
    buttonTasks_.erase(button.id);
    b->setText(QString::fromLatin1(button.idle));
    if (button.abortText)
        AppendOutput(button.abortText);
}

void ToolPage::AbandonTasks()
{
    for (auto& task : tasks_)
        task->Abandon();
}

bool ToolPage::TasksInUiCall() const
{
    return std::any_of(tasks_.begin(), tasks_.end(), [](const auto& t) { return t->InUiCall(); });
}

void ToolPage::JoinTasks()
{
    for (auto& task : tasks_)
        task->Join();
    tasks_.clear();
}

bool ToolPage::OpenTarget(const HostTarget&)
{
    return false;
}

void ToolPage::keyPressEvent(QKeyEvent* event)
{
    // The pane leaves the menu keys alone, and not every platform turns them into a context menu event.
    if (auto* pane = qobject_cast<OutputPane*>(focusWidget()); pane && isAncestorOf(pane) && IsMenuKey(*event)) {
        ShowPaneMenu(pane, nullptr);
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // A read-only pane has no use for Enter, yet it is a new line there, never a button.
        if (auto* pane = qobject_cast<QPlainTextEdit*>(focusWidget()); pane && isAncestorOf(pane)) {
            event->accept();
            return;
        }
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* target = focused && isAncestorOf(focused) ? focused : defaultButton_;
        if (target && target->isEnabled() && target->isVisible())
            target->click();
        event->accept();
        return;
    }
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
