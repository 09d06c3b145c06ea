#pragma once

// A socket pair in place of a capture: the test sends frames into one end, the
// capture reads them from the other, one frame a message.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "capture/CaptureLoop.h"
#include "support/Ipv4FrameBuilder.h"

class FramePairSource : public CaptureFrameSource {
public:
    FramePairSource()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0)
            fds_[0] = fds[0], fds_[1] = fds[1];
    }
    ~FramePairSource() override
    {
        for (int fd : fds_)
            if (fd >= 0)
                ::close(fd);
    }
    // A sending end of the caller's own, that outlives the source.
    int DupSender() const { return ::dup(fds_[1]); }
    bool Send(const Ipv4Frame& frame) const { return SendBytes(fds_[1], frame.Bytes()); }
    // Never waits: false when the reader's queue is full or gone.
    static bool SendBytes(int fd, const std::vector<std::uint8_t>& bytes)
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(bytes.size());
    }
    // The capture then meets the end of its frames, as a receive error, and
    // may destroy the source at once, on its own thread.
    void CloseSender() { ::close(fds_[1].exchange(-1)); }

    int Fd() const override { return fds_[0]; }
    int ReadFrame(std::uint8_t* buffer, std::size_t size) override
    {
        const ssize_t n = ::recv(fds_[0], buffer, size, MSG_DONTWAIT);
        if (n > 0)
            return int(n);
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
    std::uint64_t Drops() override { return drops; }

    std::atomic<std::uint64_t> drops = 0;

private:
    std::atomic<int> fds_[2] = {-1, -1};
};
