#include "ui/WorkerTask.h"

#include <QAbstractButton>
#include <QSocketNotifier>
#include <deque>
#include <mutex>
#include <system_error>

#include "os/Waker.h"
#include "ui/ToolPage.h"

// A task's events travel to the user-interface thread through a queue of our
// own, guarded by a std::mutex, with an eventfd watched by a QSocketNotifier to
// wake that thread. Nothing of an event passes through Qt's cross-thread event
// queue, so every hand-over is visible to ThreadSanitizer, and the events of an
// abandoned task are dropped unrun.
struct TaskContext::State {
    CancelToken token;
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
    bool abandoned = false;  // set on the user-interface thread only
    bool finished = false;
    int uiCalls = 0;  // events on the user-interface thread's stack; that thread only
    Waker wake;

    // On the user-interface thread: carries out the events queued so far, in
    // order. Those queued meanwhile wait for the next turn of the event loop,
    // so a task that writes in a tight loop never starves input and paints.
    // The notifier is off while an event runs: a message box it opens runs the
    // event loop, and the task's later events must come after the box.
    void Drain(QSocketNotifier& notifier)
    {
        wake.Clear();
        std::size_t queued;
        {
            std::lock_guard lock(mutex);
            queued = queue.size();
        }
        for (; queued > 0; --queued) {
            std::function<void()> fn;
            {
                std::lock_guard lock(mutex);
                if (abandoned || queue.empty())
                    return;
                fn = std::move(queue.front());
                queue.pop_front();
            }
            notifier.setEnabled(false);
            ++uiCalls;
            fn();
            --uiCalls;
            notifier.setEnabled(true);
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

void TaskContext::Post(std::function<void()> fn)
{
    std::lock_guard lock(state_->mutex);
    if (state_->abandoned)
        return;
    state_->queue.push_back(std::move(fn));
    state_->wake.Signal();
}

void TaskContext::AppendOutput(std::string_view text)
{
    Post([page = page_, text = std::string(text)] { page->AppendOutput(text); });
}

void TaskContext::ClearOutput()
{
    Post([page = page_] { page->ClearOutput(); });
}

void TaskContext::SetCaption(int buttonId, const char* caption)
{
    Post([page = page_, buttonId, caption] {
        if (auto* button = page->Item<QAbstractButton>(buttonId))
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
    QObject::connect(wake_.get(), &QSocketNotifier::activated, page,
                     [state = state_, notifier = wake_.get()] { state->Drain(*notifier); });
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
    std::deque<std::function<void()>> dropped;  // destroyed outside the lock
    {
        std::lock_guard lock(state_->mutex);
        if (state_->abandoned)
            return;
        state_->abandoned = true;
        dropped.swap(state_->queue);
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
    return state_->finished && state_->uiCalls == 0;
}

void WorkerTask::Join()
{
    if (thread_.joinable())
        thread_.join();
    wake_.reset();
}
