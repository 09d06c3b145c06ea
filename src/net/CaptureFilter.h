#pragma once

#include <cstdint>
#include <vector>

#include <linux/filter.h>

// The capture page's filter settings, with the page's meanings.
struct CaptureFilterSettings {
    int protocolFilter = 0;        // 0 "TCP & UDP", 1 "TCP", 2 "UDP"
    int portDirection = 0;         // 0 "Src & Dst Ports", 1 "Src Port", 2 "Dst Port"
    std::uint16_t portFilter = 0;  // 1-65535
};

// The longest frame a capture delivers, from the IP header on.
inline constexpr std::uint32_t kCaptureFrameMax = 2000;

// The kernel filter (classic BPF) for a SOCK_DGRAM packet socket, whose data
// starts at the IP header. It keeps IPv4 TCP or UDP packets (by
// protocolFilter) whose port matches (by portDirection, behind an IP header
// of any sound length: version 4, at least 20 bytes), skips fragments other
// than the first, drops loopback's outgoing copy of each packet when
// isLoopback, and cuts what it keeps to kCaptureFrameMax bytes. It passes at
// least every packet the capture's own filter keeps. An unknown protocol or
// direction keeps nothing.
std::vector<sock_filter> BuildCaptureFilter(const CaptureFilterSettings& settings, bool isLoopback);
