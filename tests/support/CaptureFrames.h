#pragma once

// Shaped IPv4 packets for the capture's tests: fed through a socket pair, or sent as they stand (root).
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "capture/CaptureLoop.h"

struct Ipv4Frame {
    std::uint8_t protocol = 6;  // 6 TCP, 17 UDP, else an ICMP echo request
    std::uint32_t source = 0x7F000001, dest = 0x7F000001;  // host order
    std::uint16_t sourcePort = 1025, destPort = 80;
    std::string_view payload;
    int tcpDataOffset = 5, ipOptionWords = 0;  // in 32-bit words
    std::uint16_t fragmentOffset = 0;  // in 8-byte units
    bool ipv6 = false;  // the same packet over IPv6, from 2001:db8::source to 2001:db8::dest (ICMP becomes ICMPv6)
    std::vector<std::uint8_t> chain;  // IPv6's extension headers: 0 and 43 (8 bytes), 60 (16), 44 (at fragmentOffset)

    std::vector<std::uint8_t> Bytes() const
    {
        std::vector<std::uint8_t> b;
        auto u16 = [&](unsigned v) { b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)}); };
        auto u32 = [&](std::uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); };
        int ipHeader = 20 + 4 * ipOptionWords, transport = protocol == 6 ? 4 * tcpDataOffset : 8;
        u16(unsigned(0x40 | (5 + ipOptionWords)) << 8), u16(unsigned(ipHeader + transport + int(payload.size())));
        u32(0x12340000u | (fragmentOffset & 0x1FFF)), u16(64u << 8 | protocol), u16(0), u32(source), u32(dest);
        b.resize(std::size_t(ipHeader), 1);  // options: no-operation
        std::vector<std::uint8_t> next = chain;
        next.push_back(protocol == 6 || protocol == 17 ? protocol : 58);
        if (ipv6) {  // its payload length is set at the end
            b.clear(), u32(0x60000000), u16(0), u16(unsigned(next[0]) << 8 | 64u);
            for (std::uint32_t a : {source, dest})
                u32(0x20010db8), u32(0), u32(0), u32(a);
            for (std::size_t i = 0; i < chain.size(); ++i)  // options: one PadN; routing: type 0; fragment: more follow
                if (chain[i] == 44)
                    u16(unsigned(next[i + 1]) << 8), u16(unsigned(fragmentOffset) << 3 | 1), u32(7);
                else
                    u16(unsigned(next[i + 1]) << 8 | (chain[i] == 60)), u16(chain[i] == 43 ? 0 : chain[i] == 60 ? 0x10C : 0x104), b.resize(b.size() + (chain[i] == 60 ? 12 : 4));
            ipHeader = int(b.size());
        }
        if (protocol == 6 || protocol == 17)
            u16(sourcePort), u16(destPort);
        if (protocol == 6)
            u32(1), u32(0), u16(unsigned(tcpDataOffset) << 12 | 0x18), u16(65535), u32(0), b.resize(std::size_t(ipHeader + transport), 1);
        else if (protocol == 17)
            u16(unsigned(8 + payload.size())), u16(0);
        else
            u32(0x08000000), u32(0x00010001);
        b.insert(b.end(), payload.begin(), payload.end());
        if (ipv6)
            b[4] = std::uint8_t((b.size() - 40) >> 8), b[5] = std::uint8_t(b.size() - 40);
        return b;
    }
};

// A socket pair in place of a capture: the frames a test sends into one end, one a message, are what the capture reads.
class FramePairSource : public CaptureFrameSource {
public:
    FramePairSource()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0)
            fds_[0] = fds[0], fds_[1] = fds[1];
    }
    ~FramePairSource() override { ::close(fds_[0]), ::close(fds_[1]); }
    int DupSender() const { return ::dup(fds_[1]); }  // outlives the source
    bool Send(const Ipv4Frame& frame) const { return SendBytes(fds_[1], frame.Bytes()); }
    static bool SendBytes(int fd, const std::vector<std::uint8_t>& bytes)  // false when the queue is full
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(bytes.size());
    }
    void CloseSender() { ::close(fds_[1].exchange(-1)); }  // a receive error: the capture may end at once

    int Fd() const override { return fds_[0]; }
    int ReadFrame(std::uint8_t* buffer, std::size_t size, PacketFrameInfo& info) override
    {
        const ssize_t n = ::recv(fds_[0], buffer, size, MSG_DONTWAIT);
        info = {n * 1000, std::uint32_t(n)};  // each frame's time: a microsecond a byte
        return n > 0 ? int(n) : n < 0 && errno == EAGAIN ? 0 : -1;
    }
    std::uint64_t Drops() override { return drops; }

    std::atomic<std::uint64_t> drops = 0;

private:
    std::atomic<int> fds_[2] = {-1, -1};
};

// Packets by raw socket, or on an interface as broadcast frames padded to 60 bytes as a network card pads them.
inline bool SendFrames(const std::vector<Ipv4Frame>& frames, const char* interface = nullptr)
{
    const int fd = interface ? ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0) : ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    sockaddr_ll link{.sll_family = AF_PACKET, .sll_ifindex = interface ? int(if_nametoindex(interface)) : 0, .sll_halen = 6,
                     .sll_addr = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    bool ok = fd >= 0 && (!interface || link.sll_ifindex != 0);
    for (const Ipv4Frame& f : frames) {
        std::vector<std::uint8_t> bytes = f.Bytes();
        sockaddr_in ip{.sin_family = AF_INET, .sin_addr = {htonl(f.dest)}};
        if (interface) {
            bytes.insert(bytes.begin(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, std::uint8_t(f.ipv6 ? 0x86 : 8), std::uint8_t(f.ipv6 ? 0xDD : 0)});
            bytes.resize(std::max<std::size_t>(bytes.size(), 60), 0);
        }
        ok = ok && ::sendto(fd, bytes.data(), bytes.size(), 0, interface ? reinterpret_cast<sockaddr*>(&link) : reinterpret_cast<sockaddr*>(&ip),
                            interface ? sizeof link : sizeof ip) == ssize_t(bytes.size());
    }
    ::close(fd);
    return ok;
}

// The IP packets and their times (ns) in a pcapng file the page wrote; last: the type of its last block (5 once a
// stop finished it, 6 after a failed write); counts: the statistics block's 64-bit options (received, dropped, accepted).
inline std::vector<std::string> SavedPackets(const std::string& path, std::uint32_t& last, std::vector<std::int64_t>* times = nullptr,
                                             std::vector<std::uint64_t>* counts = nullptr)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    auto word = [&](std::size_t at) { std::uint32_t w = 0; return std::memcpy(&w, bytes.data() + at, 4), w; };
    std::vector<std::string> packets;
    for (std::size_t at = 0, size = 12; at + 12 <= bytes.size() && size >= 12; at += size)
        if ((size = word(at + 4), last = word(at)) == 6 && at + 28 <= bytes.size()) {
            packets.push_back(bytes.substr(at + 28, word(at + 20)));
            if (times)
                times->push_back(std::int64_t(std::uint64_t(word(at + 12)) << 32 | word(at + 16)));
        } else if (last == 5 && counts) {
            for (std::size_t o = at + 20; o + 12 <= at + size - 4 && (word(o) >> 16) == 8; o += 12)
                counts->push_back(std::uint64_t(word(o + 8)) << 32 | word(o + 4));
        }
    return packets;
}
