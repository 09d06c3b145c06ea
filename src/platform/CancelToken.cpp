#include "platform/CancelToken.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

CancelToken::CancelToken() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CancelToken::~CancelToken()
{
    if (fd_ >= 0)
        close(fd_);
}

void CancelToken::Cancel()
{
    cancelled_.store(true, std::memory_order_release);
    if (fd_ < 0)
        return;
    const std::uint64_t one = 1;
    // The counter only ever grows, so the fd stays readable from now on.
    [[maybe_unused]] auto n = write(fd_, &one, sizeof one);
}

bool CancelToken::IsCancelled() const
{
    return cancelled_.load(std::memory_order_acquire);
}
