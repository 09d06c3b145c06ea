#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>

class CancelToken;

enum class WaitResult { Ready, TimedOut, Cancelled, Failed };

// Waits until fd reports one of events (POLLIN, POLLOUT, ...), the deadline
// passes or the token is cancelled. EINTR is retried against the same deadline.
// A null token waits without one. POLLERR/POLLHUP on fd count as Ready, so the
// caller's next read or write tells what went wrong.
WaitResult WaitForFd(int fd, short events, const CancelToken* token,
                     std::chrono::steady_clock::time_point deadline);

// The same with a time-out in milliseconds from now.
WaitResult WaitForFd(int fd, short events, const CancelToken* token, int timeoutMs);

// poll(2) over count descriptors for timeoutMs; an interrupted wait counts as
// one in which nothing happened (0).
int WaitForAny(pollfd* fds, std::size_t count, int timeoutMs);

// Sleeps until the deadline or the token, whichever comes first; true when cancelled.
bool SleepUnlessCancelled(const CancelToken* token, int ms);
