#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "os/CancelToken.h"

class QSocketNotifier;
class ToolPage;

// What a running task may do to its page. Every call is carried out on the
// user-interface thread while the task waits, so writes arrive in order. Once
// the task is abandoned (STOP, or the window closing) the calls are dropped and
// return at once, and Token() is cancelled so the task's own waits wake. A
// call whose function already runs on the user-interface thread is waited for
// even then, so nothing of the task is used after the call returned.
class TaskContext {
public:
    const CancelToken& Token() const;
    bool Abandoned() const;

    // Runs fn on the user-interface thread and waits for it; false (fn not run)
    // once the task is abandoned.
    bool RunOnUi(const std::function<void()>& fn);

    // Conveniences for the page's pane and controls.
    void AppendOutput(std::string_view text);
    void ClearOutput();
    std::string ControlText(int id, int maxChars);  // as the bounded read of a control
    void AddToHistory(int comboId, const std::string& text);
    void SetCaption(int buttonId, const char* caption);

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
    // Wakes the task's waits through its token; its later calls still reach
    // the page, so it can report how it ended. Any thread.
    void Cancel();
    // From now on the task's calls are dropped and its token is cancelled.
    // User-interface thread only.
    void Abandon();
    bool Finished() const;
    // Whether one of the task's calls runs further down the user-interface
    // thread's stack (it opened a message box, whose loop runs this code):
    // joining the task there would wait forever. User-interface thread only.
    bool InUiCall() const;
    void Join();

    // Tests make thread creation fail with this.
    static bool (*threadGate)();

private:
    std::shared_ptr<TaskContext::State> state_;
    std::unique_ptr<QSocketNotifier> wake_;  // tells the user-interface thread a call is queued
    std::thread thread_;
};
