#include "ui/WorkerTask.h"

#include <QSocketNotifier>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>

#include "os/Waker.h"
#include "ui/ToolPage.h"

// A task's events travel to the user-interface thread through a queue of our
// own, guarded by a std::mutex, with an eventfd watched by a QSocketNotifier to
// wake that thread. Nothing of an event passes through Qt's cross-thread event
// queue, so every hand-over is visible to ThreadSanitizer, and the events of an
// abandoned task are dropped unrun.
struct TaskContext::State {
    // An event, or text for the page's pane when fn is empty. Text queued
    // right behind text still waiting joins it, up to a limit, so a task that
    // writes faster than the pane takes it costs the pane few large appends.
    struct Event {
        std::function<void()> fn;
        std::string text;
        bool output = true;  // text or a clear of the pane, which a stop still shows
    };
    static constexpr std::size_t kJoinedText = 256 * 1024;

    CancelToken token;
    std::mutex mutex;
    std::deque<Event> queue;
    std::size_t queuedText = 0;
    std::condition_variable drained;  // text was taken, or the task abandoned or cancelled
    bool abandoned = false;  // set on the user-interface thread only
    bool finished = false;
    int uiCalls = 0;  // events on the user-interface thread's stack; that thread only
    Waker wake;

    // On the user-interface thread: carries out the events queued so far, in
    // order. Those queued meanwhile wait for the next turn of the event loop,
    // so a task that writes in a tight loop never starves input and paints.
    // The notifier is off while an event runs: a message box it opens runs the
    // event loop, and the task's later events must come after the box.
    void Drain(QSocketNotifier& notifier, ToolPage& page)
    {
        wake.Clear();
        std::size_t queued;
        {
            std::lock_guard lock(mutex);
            queued = queue.size();
        }
        std::size_t written = 0;
        for (; queued > 0; --queued) {
            if (written >= kJoinedText) {  // the rest next turn, after input and paints
                wake.Signal();
                return;
            }
            Event event;
            {
                std::lock_guard lock(mutex);
                if (abandoned || queue.empty())
                    return;
                event = std::move(queue.front());
                queue.pop_front();
                if (!event.fn) {
                    queuedText -= event.text.size();
                    drained.notify_all();
                }
            }
            notifier.setEnabled(false);
            ++uiCalls;
            if (event.fn) {
                event.fn();
            } else {
                page.AppendTaskOutput(event.text);
                written += event.text.size();
            }
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

void TaskContext::Post(std::function<void()> fn)
{
    std::lock_guard lock(state_->mutex);
    if (state_->abandoned)
        return;
    state_->queue.push_back({std::move(fn), {}, false});
    state_->wake.Signal();
}

void TaskContext::AppendOutput(std::string_view text)
{
    std::lock_guard lock(state_->mutex);
    if (state_->abandoned)
        return;
    auto& queue = state_->queue;
    if (!queue.empty() && !queue.back().fn && queue.back().text.size() < State::kJoinedText)
        queue.back().text += text;
    else
        queue.push_back({{}, std::string(text)});
    state_->queuedText += text.size();
    state_->wake.Signal();
}

bool TaskContext::WaitForRoom(std::size_t maxText)
{
    std::unique_lock lock(state_->mutex);
    const auto ended = [&] { return state_->abandoned || state_->token.IsCancelled(); };
    state_->drained.wait(lock, [&] { return state_->queuedText <= maxText || ended(); });
    return !ended();
}

void TaskContext::ClearOutput()
{
    std::lock_guard lock(state_->mutex);
    if (state_->abandoned)
        return;
    state_->queue.push_back({[page = page_] { page->ClearOutput(); }, {}, true});
    state_->wake.Signal();
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
    page_ = page;
    wake_ = std::make_unique<QSocketNotifier>(state_->wake.Fd(), QSocketNotifier::Read);
    QObject::connect(wake_.get(), &QSocketNotifier::activated, page,
                     [state = state_, notifier = wake_.get(), page] { state->Drain(*notifier, *page); });
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
    std::lock_guard lock(state_->mutex);
    state_->drained.notify_all();
}

void WorkerTask::Abandon(bool showOutput)
{
    std::deque<TaskContext::State::Event> dropped;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->abandoned)
            return;
        state_->abandoned = true;
        dropped.swap(state_->queue);
        state_->queuedText = 0;
    }
    Cancel();
    // What the task wrote before it came to a call of another kind, as if each
    // write had been shown at once; nothing while one of its events is open.
    if (!showOutput || state_->uiCalls > 0)
        return;
    for (auto& event : dropped) {
        if (!event.output)
            break;
        if (event.fn)
            event.fn();
        else
            page_->AppendTaskOutput(event.text);
    }
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
