#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <string_view>

#include "os/Fd.h"
#include "os/PollWait.h"

class CancelToken;

// Blocking-style socket steps for worker tasks (whois, SMTP) over a
// non-blocking TCP socket: every wait is a poll beside the task's token, with
// a deadline.

// A close-on-exec socket of this domain, type (with flags such as
// SOCK_NONBLOCK) and protocol; none when the system gives none.
Fd OpenSocket(int domain, int type, int protocol = 0);

// A non-blocking TCP socket of family (AF_INET or AF_INET6).
Fd OpenTcpSocket(int family = AF_INET);

// A connected pair of close-on-exec Unix sockets of this type; false when the
// system gives none.
bool OpenSocketPair(int type, Fd& first, Fd& second);

// Connects fd to `to`. Ready once connected (the attempt's SO_ERROR is 0);
// TimedOut at the deadline, Cancelled by the token, Failed on a refusal or any
// other error.
WaitResult ConnectWithin(int fd, const sockaddr* to, socklen_t length, const CancelToken* token,
                         std::chrono::steady_clock::time_point deadline);

// Sends all of bytes; a peer that went away never raises SIGPIPE. Each wait for
// room lasts at most `stall`, and none goes past `deadline`. Ready once all is
// sent.
WaitResult SendAll(int fd, std::string_view bytes, const CancelToken* token, std::chrono::milliseconds stall,
                   std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// Receives exactly size bytes into out, waiting until deadline. Ready once all
// came; Failed also when the peer closed first.
WaitResult ReceiveAll(int fd, void* out, std::size_t size, const CancelToken* token,
                      std::chrono::steady_clock::time_point deadline);

// The earlier of now + stall and deadline: the end of one wait within an
// overall limit.
std::chrono::steady_clock::time_point WaitEnd(std::chrono::milliseconds stall,
                                              std::chrono::steady_clock::time_point deadline);
