#pragma once

#include <linux/filter.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/Fd.h"

// A SOCK_DGRAM packet socket on the interface with this index: created with
// protocol 0 so that nothing queues before it is set up, a large receive
// buffer, receive timestamps in nanoseconds, filter attached and locked (SO_LOCK_FILTER), then bound to ETH_P_ALL
// and the interface, which getsockname must confirm. Non-blocking and
// close-on-exec; none, with error set, when a step fails (EPERM: no
// CAP_NET_RAW).
Fd OpenPacketSocket(unsigned interfaceIndex, const std::vector<sock_filter>& filter, int& error);

// Whether the interface is a loopback one (its outgoing copies are dropped).
bool IsLoopbackInterface(const std::string& interfaceName);

// When the kernel received a frame, and how long the datagram was before it
// was cut to what the capture keeps.
struct PacketFrameInfo {
    std::int64_t receivedNs = 0;  // since the epoch, CLOCK_REALTIME
    std::uint32_t originalLength = 0;
};

// One frame from such a socket, IP header on, at most size bytes and no longer
// than its IP header says (IPv4's total length, IPv6's 40 bytes and payload
// length; short Ethernet frames come padded): its size; 0 when nothing is
// waiting; -1 on error. Frames of other protocols than IPv4 and IPv6, and
// loopback's outgoing copies when isLoopback, are passed over. info receives
// the frame's kernel timestamp and the length its IP header gives (never less
// than the size returned).
long ReadPacketFrame(int fd, bool isLoopback, std::uint8_t* buffer, std::size_t size, PacketFrameInfo& info);

// The frames the kernel dropped since the last call (PACKET_STATISTICS).
std::uint32_t PacketDrops(int fd);
