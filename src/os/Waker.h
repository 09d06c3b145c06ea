#pragma once

#include "os/Fd.h"

// An eventfd one thread signals and another watches in its poll(): Fd() is
// readable from Signal() until Clear(). Any thread may signal. Fd() is -1 if
// the kernel refused one; then Signal() and Clear() do nothing.
class Waker {
public:
    Waker();

    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    void Signal();
    void Clear();

private:
    ::Fd fd_;
};
