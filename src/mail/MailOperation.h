#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "platform/CancelToken.h"

// Where one send operation reports: the page's status line, or a test.
class MailSink {
public:
    virtual ~MailSink() = default;
    virtual void ShowStatus(std::string_view text) = 0;  // replaces the status line and repaints it
    virtual void SetIdle() = 0;                          // the page's SetSendingState(true)
};

// The state of one send, from Send to its common ending. Each send has its own,
// so nothing an ended send does can reach a newer one.
class MailOperation {
public:
    explicit MailOperation(MailSink& sink) : sink_(sink) {}
    MailOperation(const MailOperation&) = delete;
    MailOperation& operator=(const MailOperation&) = delete;

    MailSink& Sink() { return sink_; }

    // cancelRequested: set by Cancel and at the end of the operation; wakes
    // every wait that watches Token(). Any thread.
    void Cancel()
    {
        cancelled_ = true;
        cancel_.Cancel();
    }
    // Asked after every message line: a load, not a system call.
    bool CancelRequested() const { return cancelled_.load(std::memory_order_relaxed); }
    const CancelToken& Token() const { return cancel_; }

    // The window is closing: ends even the waits that Cancel no longer ends.
    void Close()
    {
        closing_ = true;
        close_.Cancel();
        Cancel();
    }
    bool Closing() const { return closing_.load(std::memory_order_relaxed); }
    const CancelToken& CloseToken() const { return close_; }

    // Set once the end of data has gone out: the mail is sent, and from then
    // on Cancel is not honoured.
    bool committed = false;

    // MailProgress's memory of the last stage and value it showed.
    int lastStage = 0;
    std::int64_t lastValue = 0;

private:
    MailSink& sink_;
    CancelToken cancel_;
    CancelToken close_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> closing_{false};
};
