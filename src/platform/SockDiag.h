#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include <linux/netlink.h>

#include "platform/NetcapClient.h"

// The kernel's socket tables through NETLINK_SOCK_DIAG, and the destruction
// of one TCP connection (SOCK_DESTROY).

// Sends one sock_diag request (a netlink message, header included) on a fresh
// netlink socket of the calling thread's network namespace and hands each
// message of the answer to onMessage, until the answer's end: NLMSG_DONE after
// a dump, an error or acknowledgement, or a single message when the request
// was neither a dump nor asked for an acknowledgement. onMessage returns false
// to stop early. The result is 0 or an errno: the kernel's error of an
// NLMSG_ERROR, or the socket's own.
int SockDiagExchange(const void* request, std::size_t size, const std::function<bool(const nlmsghdr&)>& onMessage);

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
