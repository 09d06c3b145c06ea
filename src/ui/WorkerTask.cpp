#include "ui/WorkerTask.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <deque>
#include <system_error>

#include "os/Waker.h"
#include "ui/ToolPage.h"

// A task's calls travel to the user-interface thread through a queue of our
// own, guarded by a std::mutex, with an eventfd watched by a QSocketNotifier to
// wake that thread. Nothing of a call passes through Qt's cross-thread event
// queue, so every hand-over is visible to ThreadSanitizer, and a call of an
// abandoned task is dropped without touching its captures.
struct TaskContext::State {
    struct Call {
        const std::function<void()>* fn;  // the task's own, valid while it waits
        bool running = false;  // fn is on the user-interface thread's stack
        bool done = false;
        bool ran = false;
    };

    CancelToken token;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Call>> queue;
    bool abandoned = false;  // set on the user-interface thread only
    int uiCalls = 0;         // calls on the user-interface thread's stack; that thread only
    bool finished = false;
    Waker wake;

    // On the user-interface thread: carries out the calls queued so far, in
    // order. Calls queued meanwhile wait for the next turn of the event loop,
    // so a task that calls in a tight loop never starves its input and paints.
    void Drain()
    {
        wake.Clear();
        std::size_t queued;
        {
            std::lock_guard lock(mutex);
            queued = queue.size();
        }
        for (; queued > 0; --queued) {
            std::shared_ptr<Call> call;
            {
                std::lock_guard lock(mutex);
                if (queue.empty())
                    return;
                call = std::move(queue.front());
                queue.pop_front();
                if (abandoned)
                    continue;  // the task no longer waits; fn's captures may be gone
                call->running = true;
            }
            // The task waits until fn has returned, even if it is abandoned
            // meanwhile (fn may have entered a nested event loop).
            ++uiCalls;
            (*call->fn)();
            --uiCalls;
            std::lock_guard lock(mutex);
            call->running = false;
            call->done = call->ran = true;
            changed.notify_all();
        }
    }
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
    auto call = std::make_shared<State::Call>();
    call->fn = &fn;
    std::unique_lock lock(state_->mutex);
    if (state_->abandoned)
        return false;
    state_->queue.push_back(call);
    state_->wake.Signal();
    state_->changed.wait(lock, [&] { return call->done || (state_->abandoned && !call->running); });
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
    if (!state_->wake.Valid())
        return false;
    wake_ = std::make_unique<QSocketNotifier>(state_->wake.Fd(), QSocketNotifier::Read);
    QObject::connect(wake_.get(), &QSocketNotifier::activated, page, [state = state_] { state->Drain(); });
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

void WorkerTask::Cancel()
{
    state_->token.Cancel();
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

bool WorkerTask::InUiCall() const
{
    return state_->uiCalls > 0;
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
    wake_.reset();
}
