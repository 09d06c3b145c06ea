#pragma once

#include <cstddef>
#include <functional>

#include <linux/netlink.h>

// Sends one sock_diag request (a netlink message, header included) on a fresh
// netlink socket of the calling thread's network namespace and hands each
// message of the answer to onMessage, until the answer's end: NLMSG_DONE after
// a dump, an error or acknowledgement, or a single message when the request
// was neither a dump nor asked for an acknowledgement. onMessage returns false
// to stop early. The result is 0 or an errno: the kernel's error of an
// NLMSG_ERROR, or the socket's own.
int SockDiagExchange(const void* request, std::size_t size, const std::function<bool(const nlmsghdr&)>& onMessage);
