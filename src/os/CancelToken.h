#pragma once

#include <atomic>

#include "os/Waker.h"

// A one-way "stop now" signal from the user-interface thread to a worker.
// Cancel() may be called from any thread; Fd() turns readable once cancelled,
// so a worker's poll() can watch the token beside its socket; IsCancelled() is
// one atomic load, cheap enough to ask once per packet or per line.
class CancelToken {
public:
    CancelToken() = default;
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    void Cancel();
    bool IsCancelled() const;
    int Fd() const { return wake_.Fd(); }  // -1 without an eventfd (then only IsCancelled works)

private:
    Waker wake_;
    std::atomic<bool> cancelled_{false};
};
