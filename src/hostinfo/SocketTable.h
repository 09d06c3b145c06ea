#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net/IpAddress.h"

// The host's TCP connections and UDP sockets as the connection tables list
// them: IPv4 addresses in network byte order, a port in network byte order in
// the low 16 bits of its field, TCP states numbered 1 to 12 (see
// TableStateOf). Read from the kernel's socket diagnostics (NETLINK_SOCK_DIAG,
// as ss reads them), from /proc/net only where those are missing.
//
// A socket that has no IPv4 view is an IPv6 row: its addresses are in local6
// and remote6 (a link-local one with the zone of the interface the socket is
// bound to), its 32-bit address fields 0. An IPv4 row leaves both none.

struct TcpRow {
    std::uint32_t state = 0;
    std::uint32_t localAddr = 0;
    std::uint32_t localPort = 0;
    std::uint32_t remoteAddr = 0;
    std::uint32_t remotePort = 0;
    IpAddress local6{};
    IpAddress remote6{};
    std::uint32_t inode = 0;  // the socket's inode, 0 for one no process holds (TIME_WAIT)
};

struct UdpRow {
    std::uint32_t localAddr = 0;
    std::uint32_t localPort = 0;
    IpAddress local6{};
    std::uint32_t inode = 0;
};

// The table's state number of a Linux TCP state (TCP_ESTABLISHED...); 0 for
// any state the table has no number for.
std::uint32_t TableStateOf(int linuxState);

// Where the dumps come from. Dump sends one SOCK_DIAG_BY_FAMILY dump request
// and hands the reply's messages to chunk as they arrive (one or more whole
// netlink messages at a time; NLMSG_DONE may or may not be among them), until
// chunk returns true or the reply ends. It returns 0 for a reply read to its
// end, or an errno (ENOENT or EPROTONOSUPPORT when the diag module for that
// family or protocol is missing). Tests replay recorded replies through it.
// The readers call Dump for both families at once, from two threads.
class SockDiagSource {
public:
    using Chunk = std::function<bool(std::string_view messages)>;
    virtual ~SockDiagSource() = default;
    virtual int Dump(std::uint8_t family, std::uint8_t protocol, std::uint32_t states, const Chunk& chunk) = 0;
    // The text of /proc/net/<name> ("tcp", "tcp6", "udp", "udp6"), for hosts
    // without the diag modules; false when it cannot be read.
    virtual bool ProcTable(const char* name, std::string* text) = 0;
};

// The running kernel, in the calling thread's network namespace.
SockDiagSource& KernelSockDiag();

// Both return false when the table cannot be read at all. Rows come in the
// order the kernel gives them: the AF_INET dump, then the AF_INET6 one, whose
// sockets show as IPv4 where they have an IPv4 side (IPv4-mapped addresses,
// and dual-stack sockets bound to "::", which show as 0.0.0.0) and as IPv6
// rows otherwise. A dump that stays interrupted after a few tries gives what
// its last try read.
bool ReadTcpSockets(std::vector<TcpRow>* rows, SockDiagSource& source = KernelSockDiag());
bool ReadUdpSockets(std::vector<UdpRow>* rows, SockDiagSource& source = KernelSockDiag());

// The processes that hold each socket, by the socket's inode: "pid/comm" for
// each, joined by commas in pid order. Read in one pass over the descriptors
// of every process under procRoot (/proc/<pid>/fd/* -> "socket:[inode]");
// processes whose descriptors the caller may not read, and those that end
// during the pass, are left out. A comm's control characters show as '?'.
using SocketOwners = std::unordered_map<std::uint32_t, std::string>;
SocketOwners ReadSocketOwners(const char* procRoot = "/proc");
