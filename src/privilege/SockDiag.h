#pragma once

#include <cstdint>

#include "net/IpAddress.h"
#include "privilege/NetcapClient.h"

// The destruction of one TCP connection (SOCK_DESTROY).

// One TCP connection by its four address fields (ports in host order): both
// addresses IPv4, or both IPv6, a link-local one with its zone.
struct TcpConnectionAddress {
    TcpConnectionAddress() = default;
    // IPv4 addresses in network byte order.
    TcpConnectionAddress(std::uint32_t local, std::uint16_t lport, std::uint32_t remote, std::uint16_t rport)
        : TcpConnectionAddress(IpAddress::V4(local), lport, IpAddress::V4(remote), rport)
    {
    }
    TcpConnectionAddress(const IpAddress& local, std::uint16_t lport, const IpAddress& remote, std::uint16_t rport)
        : localAddress(local), localPort(lport), remoteAddress(remote), remotePort(rport)
    {
    }

    IpAddress localAddress;
    std::uint16_t localPort = 0;
    IpAddress remoteAddress;
    std::uint16_t remotePort = 0;
};

// Looks the exact connection up and destroys it by the cookie the lookup
// gave, so that no other socket is ever hit: an IPv4 one in AF_INET, then in
// AF_INET6 with the IPv4-mapped addresses of dual-stack sockets; an IPv6 one
// in AF_INET6, on its zone's interface. 0 when destroyed; ENOENT when no
// connection has these four fields (the kernel's lookup may answer with a
// listener, whose fields differ); ENOTCONN when it exists but is not
// ESTABLISHED; EPERM without CAP_NET_ADMIN; EINVAL for addresses of two
// families, or two zones; another errno when the kernel fails otherwise.
int DestroyTcpConnection(const TcpConnectionAddress& connection);

// The program's side: DestroyTcpConnection directly when the process holds
// CAP_NET_ADMIN, otherwise through the privilege helper's kill request, whose
// wait for the helper's answer ends early once token (if any) is cancelled.
struct TcpKillResult {
    int error = 0;  // as DestroyTcpConnection's; meaningful when failure is None
    PrivilegeFailure failure = PrivilegeFailure::None;  // why neither way could try, None otherwise
};
TcpKillResult KillTcpConnection(const TcpConnectionAddress& connection, const CancelToken* token = nullptr);
