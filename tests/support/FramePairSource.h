#pragma once

// A socket pair in place of a capture: the frames a test sends into one end, one a message, are what the capture reads.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

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
    int DupSender() const { return ::dup(fds_[1]); }  // outlives the source
    bool Send(const Ipv4Frame& frame) const { return SendBytes(fds_[1], frame.Bytes()); }
    static bool SendBytes(int fd, const std::vector<std::uint8_t>& bytes)  // false when the queue is full
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(bytes.size());
    }
    // The capture meets the end of its frames, a receive error, and may destroy the source at once on its thread.
    void CloseSender() { ::close(fds_[1].exchange(-1)); }

    int Fd() const override { return fds_[0]; }
    int ReadFrame(std::uint8_t* buffer, std::size_t size) override
    {
        const ssize_t n = ::recv(fds_[0], buffer, size, MSG_DONTWAIT);
        return n > 0 ? int(n) : n < 0 && errno == EAGAIN ? 0 : -1;
    }
    std::uint64_t Drops() override { return drops; }

    std::atomic<std::uint64_t> drops = 0;

private:
    std::atomic<int> fds_[2] = {-1, -1};
};
