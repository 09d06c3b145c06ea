#pragma once

// Builds IPv4 packets byte by byte, IP header first, as a capture receives
// them: for the decoder's tests, fuzz seeds and the capture benchmark.
#include <cstdint>
#include <string_view>
#include <vector>

struct Ipv4Frame {
    std::uint8_t protocol = 6;  // 6 TCP, 17 UDP, 1 ICMP
    std::uint32_t source = 0x7F000001;  // host order, 127.0.0.1
    std::uint32_t dest = 0x7F000001;
    std::uint16_t sourcePort = 1025;
    std::uint16_t destPort = 80;
    std::string_view payload;
    int tcpDataOffset = 5;  // in 32-bit words
    int ipOptionWords = 0;  // 32-bit words of IP options (no-operation bytes)
    std::uint16_t fragmentOffset = 0;  // in 8-byte units
    int padding = 0;  // bytes after the packet that its total length does not count

    std::vector<std::uint8_t> Bytes() const
    {
        std::vector<std::uint8_t> b;
        auto u8 = [&](unsigned v) { b.push_back(std::uint8_t(v)); };
        auto u16 = [&](unsigned v) { u8(v >> 8); u8(v); };
        auto u32 = [&](std::uint32_t v) { u16(v >> 16); u16(v & 0xFFFF); };
        const int transport = protocol == 6 ? 4 * tcpDataOffset : protocol == 17 ? 8 : 8;
        const int ipHeader = 20 + 4 * ipOptionWords;
        u8(0x40 | (5 + ipOptionWords));
        u8(0);
        u16(unsigned(ipHeader + transport + int(payload.size())));
        u16(0x1234);
        u16(fragmentOffset & 0x1FFF);
        u8(64);
        u8(protocol);
        u16(0);
        u32(source);
        u32(dest);
        b.resize(std::size_t(ipHeader), 1);
        if (protocol == 6) {
            u16(sourcePort);
            u16(destPort);
            u32(1);
            u32(0);
            u8(unsigned(tcpDataOffset) << 4);
            u8(0x18);
            u16(65535);
            u32(0);
            b.resize(std::size_t(ipHeader + transport), 1);
        } else if (protocol == 17) {
            u16(sourcePort);
            u16(destPort);
            u16(unsigned(8 + payload.size()));
            u16(0);
        } else {
            u32(0x08000000);  // echo request
            u32(0x00010001);
        }
        b.insert(b.end(), payload.begin(), payload.end());
        b.resize(b.size() + std::size_t(padding), 0);
        return b;
    }
};

// A copy of f with change made to it: With(frame, [](auto& f) { f.padding = 6; }).
template <class Change>
Ipv4Frame With(Ipv4Frame f, Change change)
{
    change(f);
    return f;
}
