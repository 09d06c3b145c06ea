#include "privilege/Privilege.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

bool HoldsCapability(int capability)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0 || capability < 0 || capability >= 64)
        return false;
    return (data[capability / 32].effective >> (capability % 32)) & 1u;
}

bool DoesItself(PrivilegedOperation operation)
{
    return HoldsCapability(operation == PrivilegedOperation::Kill ? CAP_NET_ADMIN : CAP_NET_RAW);
}
