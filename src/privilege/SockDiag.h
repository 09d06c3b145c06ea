#pragma once

#include <cstdint>

#include "privilege/NetcapClient.h"

// The destruction of one TCP connection (SOCK_DESTROY).

// One IPv4 TCP connection by its four address fields (addresses in network
// byte order, ports in host order).
struct TcpConnectionAddress {
    std::uint32_t localAddress = 0;
    std::uint16_t localPort = 0;
    std::uint32_t remoteAddress = 0;
    std::uint16_t remotePort = 0;
};

// Looks the exact connection up (AF_INET, then AF_INET6 with the IPv4-mapped
// addresses of dual-stack sockets) and destroys it by the cookie the lookup
// gave, so that no other socket is ever hit. 0 when destroyed; ENOENT when no
// connection has these four fields (the kernel's lookup may answer with a
// listener, whose fields differ); ENOTCONN when it exists but is not
// ESTABLISHED; EPERM without CAP_NET_ADMIN; another errno when the kernel
// fails otherwise.
int DestroyTcpConnection(const TcpConnectionAddress& connection);

// The program's side: DestroyTcpConnection directly when the process holds
// CAP_NET_ADMIN, otherwise through the privilege helper's kill request, whose
// wait for the helper's answer ends early once token (if any) is cancelled.
struct TcpKillResult {
    int error = 0;  // as DestroyTcpConnection's; meaningful when failure is None
    PrivilegeFailure failure = PrivilegeFailure::None;  // why neither way could try, None otherwise
};
TcpKillResult KillTcpConnection(const TcpConnectionAddress& connection, const CancelToken* token = nullptr);
