#pragma once

// IPv4 packets built byte by byte, IP header first, as a capture receives them.
#include <cstdint>
#include <string_view>
#include <vector>

struct Ipv4Frame {
    std::uint8_t protocol = 6;  // 6 TCP, 17 UDP, else an ICMP echo request
    std::uint32_t source = 0x7F000001, dest = 0x7F000001;  // host order
    std::uint16_t sourcePort = 1025, destPort = 80;
    std::string_view payload;
    int tcpDataOffset = 5;  // in 32-bit words
    int ipOptionWords = 0;
    std::uint16_t fragmentOffset = 0;  // in 8-byte units
    std::uint8_t versionIhl = 0;  // the first byte as given, when not 0

    std::vector<std::uint8_t> Bytes() const
    {
        std::vector<std::uint8_t> b;
        auto u16 = [&](unsigned v) { b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)}); };
        auto u32 = [&](std::uint32_t v) { u16(v >> 16); u16(v & 0xFFFF); };
        const int ipHeader = 20 + 4 * ipOptionWords, transport = protocol == 6 ? 4 * tcpDataOffset : 8;
        u16(unsigned(versionIhl ? versionIhl : 0x40 | (5 + ipOptionWords)) << 8);
        u16(unsigned(ipHeader + transport + int(payload.size())));
        u32(0x12340000u | (fragmentOffset & 0x1FFF));
        u16(64u << 8 | protocol);
        u16(0);
        u32(source);
        u32(dest);
        b.resize(std::size_t(ipHeader), 1);  // options: no-operation
        if (protocol == 6 || protocol == 17) {
            u16(sourcePort);
            u16(destPort);
        }
        if (protocol == 6) {
            u32(1), u32(0), u16(unsigned(tcpDataOffset) << 12 | 0x18), u16(65535), u32(0);
            b.resize(std::size_t(ipHeader + transport), 1);
        } else if (protocol == 17) {
            u16(unsigned(8 + payload.size())), u16(0);
        } else {
            u32(0x08000000), u32(0x00010001);
        }
        b.insert(b.end(), payload.begin(), payload.end());
        return b;
    }
};
