#include "os/SocketIo.h"

#include <sys/socket.h>

#include <cerrno>

using Clock = std::chrono::steady_clock;

Fd OpenSocket(int domain, int type, int protocol)
{
    return Fd(socket(domain, type | SOCK_CLOEXEC, protocol));
}

Fd OpenTcpSocket(int family)
{
    return OpenSocket(family, SOCK_STREAM | SOCK_NONBLOCK);
}

bool OpenSocketPair(int type, Fd& first, Fd& second)
{
    int pair[2];
    if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    first.Reset(pair[0]);
    second.Reset(pair[1]);
    return true;
}

WaitResult ConnectWithin(int fd, const sockaddr* to, socklen_t length, const CancelToken* token,
                         Clock::time_point deadline)
{
    if (connect(fd, to, length) == 0)
        return WaitResult::Ready;
    if (errno != EINPROGRESS && errno != EINTR)
        return WaitResult::Failed;
    const WaitResult wait = WaitForFd(fd, POLLOUT, token, deadline);
    if (wait != WaitResult::Ready)
        return wait;
    // Writable also means the attempt failed; its outcome is in SO_ERROR.
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0 || error != 0)
        return WaitResult::Failed;
    return WaitResult::Ready;
}

Clock::time_point WaitEnd(std::chrono::milliseconds stall, Clock::time_point deadline)
{
    const auto now = Clock::now();
    // Compared as durations, so a far deadline (time_point::max) cannot overflow.
    return deadline - now < stall ? deadline : now + stall;
}

WaitResult SendAll(int fd, std::string_view bytes, const CancelToken* token, std::chrono::milliseconds stall,
                   Clock::time_point deadline)
{
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const WaitResult wait = WaitForFd(fd, POLLOUT, token, WaitEnd(stall, deadline));
            if (wait != WaitResult::Ready)
                return wait;
            continue;
        }
        return WaitResult::Failed;
    }
    return WaitResult::Ready;
}

WaitResult ReceiveAll(int fd, void* out, std::size_t size, const CancelToken* token, Clock::time_point deadline)
{
    auto* to = static_cast<char*>(out);
    while (size > 0) {
        const WaitResult wait = WaitForFd(fd, POLLIN, token, deadline);
        if (wait != WaitResult::Ready)
            return wait;
        const ssize_t n = recv(fd, to, size, MSG_DONTWAIT);
        if (n == 0)
            return WaitResult::Failed;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return WaitResult::Failed;
        }
        to += n;
        size -= std::size_t(n);
    }
    return WaitResult::Ready;
}
