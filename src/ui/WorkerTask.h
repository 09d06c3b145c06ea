#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "os/CancelToken.h"

class QSocketNotifier;
class ToolPage;

// What a running task may do to its page: queue events, which are carried out
// on the user-interface thread in the order queued. Queuing never waits. Once
// the task is abandoned (STOP, or the window closing) its events are dropped,
// queued or not, and Token() is cancelled so the task's own waits wake. An
// event that opens a message box holds the task's later events back until the
// box is closed.
class TaskContext {
public:
    const CancelToken& Token() const;

    // Queues fn for the user-interface thread; its captures must be its own.
    void Post(std::function<void()> fn);

    // Conveniences for the page's pane.
    void AppendOutput(std::string_view text);
    void ClearOutput();
    // Waits while more than maxText bytes of the task's text wait for the
    // pane, for a task that must not outrun it without bound; false once the
    // task is abandoned or cancelled.
    bool WaitForRoom(std::size_t maxText);

private:
    friend class WorkerTask;
    struct State;
    TaskContext(std::shared_ptr<State> state, ToolPage* page) : state_(std::move(state)), page_(page) {}
    std::shared_ptr<State> state_;
    ToolPage* page_;
};

// A page's job on a thread of its own.
class WorkerTask {
public:
    using Job = std::function<void(TaskContext&)>;

    WorkerTask();
    ~WorkerTask();  // abandons and joins
    WorkerTask(const WorkerTask&) = delete;
    WorkerTask& operator=(const WorkerTask&) = delete;

    // Starts job on a new thread; false when no thread could be created.
    bool Start(ToolPage* page, Job job);
    // Wakes the task's waits through its token; its later events still reach
    // the page, so it can report how it ended. Any thread.
    void Cancel();
    // From now on the task's events are dropped and its token is cancelled.
    // With showOutput, the pane text and clears it queued before its first
    // other event are carried out first. User-interface thread only.
    void Abandon(bool showOutput = false);
    // The thread has ended and none of its events runs on the user-interface
    // thread's stack (an event that opened a message box, whose loop runs this
    // code): only then may the task be joined and destroyed. That thread only.
    bool Finished() const;
    bool InUiCall() const;
    void Join();

    // Tests make thread creation fail with this.
    static bool (*threadGate)();

private:
    std::shared_ptr<TaskContext::State> state_;
    ToolPage* page_ = nullptr;
    std::unique_ptr<QSocketNotifier> wake_;  // tells the user-interface thread an event is queued
    std::thread thread_;
};
