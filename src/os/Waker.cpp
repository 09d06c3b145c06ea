#include "os/Waker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

Waker::Waker() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void Waker::Signal()
{
    if (!fd_.Valid())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(fd_.Get(), &one, sizeof one);
}

void Waker::Clear()
{
    if (!fd_.Valid())
        return;
    std::uint64_t count;
    [[maybe_unused]] auto n = read(fd_.Get(), &count, sizeof count);
}
