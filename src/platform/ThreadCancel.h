#pragma once

class CancelToken;

// The cancel token of the task running on the calling thread, for blocking
// operations whose signature has no room for one (the echo component's send
// keeps the platform's argument list). Null when the thread has none.
const CancelToken* ThreadCancelToken();

// Makes token the calling thread's cancel token while the scope lives.
class ThreadCancelScope {
public:
    explicit ThreadCancelScope(const CancelToken* token);
    ~ThreadCancelScope();
    ThreadCancelScope(const ThreadCancelScope&) = delete;
    ThreadCancelScope& operator=(const ThreadCancelScope&) = delete;

private:
    const CancelToken* previous_;
};
