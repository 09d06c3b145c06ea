#include "platform/CancelToken.h"

#include <poll.h>
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
    if (fd_ < 0)
        return;
    const std::uint64_t one = 1;
    // The counter only ever grows, so the fd stays readable from now on.
    [[maybe_unused]] auto n = write(fd_, &one, sizeof one);
}

bool CancelToken::IsCancelled() const
{
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}
