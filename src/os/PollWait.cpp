#include "os/PollWait.h"

#include <poll.h>

#include <cerrno>

#include "os/CancelToken.h"

using Clock = std::chrono::steady_clock;

namespace {

int RemainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(left);
}

}  // namespace

WaitResult WaitForFd(int fd, short events, const CancelToken* token, Clock::time_point deadline)
{
    pollfd fds[2] = {{fd, events, 0}, {token ? token->Fd() : -1, POLLIN, 0}};
    for (;;) {
        if (token && token->IsCancelled())
            return WaitResult::Cancelled;
        int n = ::poll(fds, 2, RemainingMs(deadline));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Failed;
        }
        if (fds[1].revents)
            return WaitResult::Cancelled;
        if (fds[0].revents)
            return WaitResult::Ready;
        if (n == 0 && Clock::now() >= deadline)
            return WaitResult::TimedOut;
    }
}

WaitResult WaitForFd(int fd, short events, const CancelToken* token, int timeoutMs)
{
    return WaitForFd(fd, events, token, Clock::now() + std::chrono::milliseconds(timeoutMs));
}

int WaitForAny(pollfd* fds, std::size_t count, int timeoutMs)
{
    const int n = poll(fds, nfds_t(count), timeoutMs);
    return n < 0 && errno == EINTR ? 0 : n;
}

bool SleepUnlessCancelled(const CancelToken* token, int ms)
{
    return WaitForFd(-1, 0, token, ms) == WaitResult::Cancelled;
}
