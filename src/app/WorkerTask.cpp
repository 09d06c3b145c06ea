#include "app/WorkerTask.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <system_error>

#include "app/ToolPage.h"

struct TaskContext::State {
    CancelToken token;
    std::mutex mutex;
    std::condition_variable changed;
    bool abandoned = false;  // written on the user-interface thread only, under mutex
    bool finished = false;
};

bool (*WorkerTask::threadGate)() = nullptr;

const CancelToken& TaskContext::Token() const
{
    return state_->token;
}

bool TaskContext::Abandoned() const
{
    std::lock_guard lock(state_->mutex);
    return state_->abandoned;
}

bool TaskContext::RunOnUi(const std::function<void()>& fn)
{
    struct Call {
        bool done = false;
        bool ran = false;
    };
    auto call = std::make_shared<Call>();
    auto state = state_;
    {
        std::lock_guard lock(state->mutex);
        if (state->abandoned)
            return false;
    }
    // The page is the context: if it is gone, Qt drops the call; it cannot be
    // gone while the task runs, since a page joins its tasks before it dies.
    QMetaObject::invokeMethod(
        page_,
        [state, call, &fn] {
            {
                std::lock_guard lock(state->mutex);
                if (state->abandoned)
                    return;  // fn's captures may be gone: the task stopped waiting
            }
            // Abandon() runs on this thread too, so the task still waits while fn runs.
            fn();
            std::lock_guard lock(state->mutex);
            call->done = call->ran = true;
            state->changed.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return call->done || state->abandoned; });
    return call->ran;
}

void TaskContext::AppendOutput(std::string_view text)
{
    RunOnUi([&] { page_->AppendOutput(text); });
}

void TaskContext::ClearOutput()
{
    RunOnUi([&] { page_->ClearOutput(); });
}

std::string TaskContext::ControlText(int id, int maxChars)
{
    std::string text;
    RunOnUi([&] { text = page_->ControlText(id, maxChars); });
    return text;
}

void TaskContext::AddToHistory(int comboId, const std::string& text)
{
    RunOnUi([&] {
        if (auto* combo = page_->Item<QComboBox>(comboId))
            ToolPage::AddToHistory(combo, QString::fromUtf8(text.data(), qsizetype(text.size())));
    });
}

void TaskContext::SetCaption(int buttonId, const char* caption)
{
    RunOnUi([&] {
        if (auto* button = page_->Item<QAbstractButton>(buttonId))
            button->setText(QString::fromLatin1(caption));
    });
}

WorkerTask::WorkerTask() : state_(std::make_shared<TaskContext::State>()) {}

WorkerTask::~WorkerTask()
{
    Abandon();
    Join();
}

bool WorkerTask::Start(ToolPage* page, Job job)
{
    if (threadGate && !threadGate())
        return false;
    try {
        thread_ = std::thread([state = state_, page, job = std::move(job)] {
            TaskContext context(state, page);
            job(context);
            std::lock_guard lock(state->mutex);
            state->finished = true;
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkerTask::Abandon()
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->abandoned)
            return;
        state_->abandoned = true;
        state_->changed.notify_all();
    }
    state_->token.Cancel();
}

bool WorkerTask::Finished() const
{
    std::lock_guard lock(state_->mutex);
    return state_->finished;
}

void WorkerTask::Join()
{
    if (thread_.joinable())
        thread_.join();
}
