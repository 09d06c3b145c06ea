#include "os/CancelToken.h"

void CancelToken::Cancel()
{
    cancelled_.store(true, std::memory_order_release);
    // Never cleared, so the fd stays readable from now on.
    wake_.Signal();
}

bool CancelToken::IsCancelled() const
{
    return cancelled_.load(std::memory_order_acquire);
}
