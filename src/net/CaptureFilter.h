#pragma once

#include <cstdint>
#include <vector>

#include <linux/filter.h>

// Which packets a capture keeps, in the order of the page's lists.
enum class CaptureProtocol : std::uint8_t { TcpAndUdp, Tcp, Udp };
enum class PortDirection : std::uint8_t { Either, Source, Destination };

struct CaptureFilterSettings {
    CaptureProtocol protocolFilter = CaptureProtocol::TcpAndUdp;
    PortDirection portDirection = PortDirection::Either;
    std::uint16_t portFilter = 0;  // 1-65535
    std::uint8_t ipVersion = 4;    // 4 or 6: the frames a capture keeps
};

// The longest frame a capture delivers, from the IP header on.
inline constexpr std::uint32_t kCaptureFrameMax = 2000;

// The kernel filter (classic BPF) for a SOCK_DGRAM packet socket, whose data
// starts at the IP header. It keeps TCP or UDP packets of ipVersion (by
// protocolFilter) whose port matches (by portDirection): for IPv4 behind an
// IP header of any sound length (version 4, at least 20 bytes), for IPv6
// behind the extension headers the decoder walks (a chain too long to follow
// here is kept for the decoder to judge). It skips fragments other than the
// first, drops loopback's outgoing copy of each packet when isLoopback, and
// cuts what it keeps to kCaptureFrameMax bytes. It passes at least every
// packet the capture's own filter keeps. A protocol, direction or version
// outside the lists keeps nothing.
std::vector<sock_filter> BuildCaptureFilter(const CaptureFilterSettings& settings, bool isLoopback);
