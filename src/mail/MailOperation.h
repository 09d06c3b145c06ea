#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "os/CancelToken.h"

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
    // cancel is woken by the user's Cancel (on the page: the task's token);
    // close only when the window closes, which also ends the waits after the
    // end of data, where Cancel is no longer honoured.
    MailOperation(MailSink& sink, const CancelToken& cancel, const CancelToken& close)
        : sink_(sink), cancel_(cancel), close_(close)
    {
    }
    MailOperation(const MailOperation&) = delete;
    MailOperation& operator=(const MailOperation&) = delete;

    MailSink& Sink() { return sink_; }

    // Asked after every message line: one atomic load.
    bool CancelRequested() const { return cancel_.IsCancelled(); }
    const CancelToken& Token() const { return cancel_; }
    bool Closing() const { return close_.IsCancelled(); }
    const CancelToken& CloseToken() const { return close_; }

    // Set once the end of data has gone out: the mail is sent, and from then
    // on Cancel is not honoured.
    bool committed = false;
    // Set when stage 6 or 7 ended the operation: nothing more is shown.
    bool ended = false;

    // MailProgress's memory of the last stage and value it showed.
    int lastStage = 0;
    std::int64_t lastValue = 0;

    // The longest the message's lines may take to go out: base, and perChunk
    // more for each whole 64 KiB of the message, so that a receiver taking a
    // byte now and then cannot hold a send for days. Tests shorten them.
    struct TransferTime {
        std::chrono::milliseconds base{60000};
        std::chrono::milliseconds perChunk{1000};
    } transferTime;

private:
    MailSink& sink_;
    const CancelToken& cancel_;
    const CancelToken& close_;
};
