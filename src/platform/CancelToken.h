#pragma once

#include <atomic>

// A one-way "stop now" signal from the user-interface thread to a worker.
// Cancel() may be called from any thread; Fd() turns readable once cancelled,
// so a worker's poll() can watch the token beside its socket; IsCancelled() is
// one atomic load, cheap enough to ask once per packet or per line.
class CancelToken {
public:
    CancelToken();
    ~CancelToken();
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    void Cancel();
    bool IsCancelled() const;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;  // eventfd; -1 if the kernel refused one (then only IsCancelled works)
    std::atomic<bool> cancelled_{false};
};
