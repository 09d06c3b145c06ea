#include "os/Fd.h"

#include <unistd.h>

void Fd::Reset(int fd)
{
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}
