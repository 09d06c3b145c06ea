#pragma once

// The operations that need a capability, and the one place that decides
// whether the program does one itself or asks the privilege helper.

enum class PrivilegedOperation {
    Echo,     // a raw ICMP socket: CAP_NET_RAW
    Capture,  // a packet socket: CAP_NET_RAW
    Kill,     // SOCK_DESTROY: CAP_NET_ADMIN
};

// Why an operation needing privilege could not be done.
enum class PrivilegeFailure {
    None,
    HelperMissing,  // no helper at NetcapHelperPath()
    HelperDenied,   // the helper is there but this user may not run it (not in its group)
    HelperRefused,  // it ran but lacks its capabilities (EPERM)
    HelperFailed,   // it gave no valid answer in time, or the wait was cancelled
};

// Whether the process holds this capability (CAP_NET_RAW, CAP_NET_ADMIN) in its
// effective set.
bool HoldsCapability(int capability);

// Whether the program does operation itself, holding the capability the kernel
// checks for it (as root does); otherwise the privilege helper does it.
bool DoesItself(PrivilegedOperation operation);
