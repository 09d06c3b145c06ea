#pragma once

// Known traffic for the capture's peer tests: shaped IPv4 packets sent as they stand. Needs root.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/Ipv4FrameBuilder.h"

// Each packet through a raw socket to its destination; or, given an interface, in an Ethernet broadcast frame
// from 02:ff:ff:ff:ff:ff padded with zeros to 60 bytes, as a network card pads it.
inline bool SendFrames(const std::vector<Ipv4Frame>& frames, const char* interface = nullptr)
{
    const int fd = interface ? ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0) : ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    sockaddr_ll link{.sll_family = AF_PACKET, .sll_ifindex = interface ? int(if_nametoindex(interface)) : 0, .sll_halen = 6};
    std::memset(link.sll_addr, 0xFF, 6);
    bool ok = fd >= 0 && (!interface || link.sll_ifindex != 0);
    for (const Ipv4Frame& f : frames) {
        std::vector<std::uint8_t> bytes = f.Bytes();
        sockaddr_in ip{.sin_family = AF_INET, .sin_addr = {htonl(f.dest)}};
        if (interface) {
            const std::uint8_t header[14] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 8, 0};
            bytes.insert(bytes.begin(), header, header + 14);
            bytes.resize(std::max<std::size_t>(bytes.size(), 60), 0);
        }
        ok = ok && ::sendto(fd, bytes.data(), bytes.size(), 0, interface ? reinterpret_cast<sockaddr*>(&link) : reinterpret_cast<sockaddr*>(&ip),
                            interface ? sizeof link : sizeof ip) == ssize_t(bytes.size());
    }
    if (fd >= 0)
        ::close(fd);
    return ok;
}
