// Decoding of captured IPv4 and IPv6 packets (RFC 791, 8200, 793, 768), from
// the IP header on:
//
//   IPv4 0  version(4) IHL(4)     IPv6 0  version(4) ...
//        2  total length (2)           4  payload length (2)
//        6  flags(3) fragment offset   6  next header
//        9  protocol (6 TCP, 17 UDP)   8  source address (16)
//        12 source address             24 destination address (16)
//        16 destination address        40 extension headers, each naming the next:
//        20 options (IHL*4 - 20)          hop-by-hop 0, routing 43, destination options 60:
//                                           0 next header, 1 length in 8-byte units after the first
//   TCP  0  source port (2)               fragment 44: 0 next header, 2 offset(13) res(2) M(1); 8 bytes
//        2  destination port (2)
//        12 data offset(4) ...       UDP  0  source port (2), 2 destination port (2), 8 payload
//
// Transport offsets count from the IP header's end: IHL*4 bytes in, or past
// IPv6's last extension header.
#include "capture/CapturedPacket.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "net/ByteReader.h"

namespace {

constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kHopByHopHeader = 0;
constexpr std::uint8_t kRoutingHeader = 43;
constexpr std::uint8_t kFragmentHeader = 44;
constexpr std::uint8_t kDestinationOptionsHeader = 60;
constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::size_t kIpv6HeaderSize = 40;

struct IpHeader {
    std::size_t headerLength;   // to the transport header
    std::size_t packetLength;   // as the IP header gives it
    std::uint8_t protocol;
    std::uint8_t version;
};

// The IPv4 header fields the decode needs, or nothing when the packet is not
// a first (or only) fragment of an IPv4 packet with a sound header length.
std::optional<IpHeader> ReadIpv4Header(const ByteReader& r)
{
    auto versionIhl = r.U8At(0);
    auto totalLength = r.U16At(2);
    auto fragment = r.U16At(6);
    auto protocol = r.U8At(9);
    if (!versionIhl || !totalLength || !fragment || !protocol || (*fragment & 0x1FFF) != 0)
        return std::nullopt;
    const std::size_t headerLength = std::size_t(*versionIhl & 0x0F) * 4;
    if (headerLength < 20)
        return std::nullopt;
    return IpHeader{headerLength, *totalLength, *protocol, 4};
}

// The IPv6 header and its extension headers, walked to a TCP or UDP header;
// nothing for a later fragment, no next header, ICMPv6 or any other header,
// or a chain that runs past the bytes. Each step moves at least 8 bytes on.
std::optional<IpHeader> ReadIpv6Header(const ByteReader& r)
{
    auto payloadLength = r.U16At(4);
    auto next = r.U8At(6);
    std::size_t at = kIpv6HeaderSize;
    while (payloadLength && next) {
        const std::uint8_t header = *next;
        if (header == kProtocolTcp || header == kProtocolUdp)
            return IpHeader{at, kIpv6HeaderSize + *payloadLength, header, 6};
        next = r.U8At(at);
        if (header == kFragmentHeader) {
            // Only a first fragment carries the ports.
            auto offset = r.U16At(at + 2);
            if (!offset || (*offset & 0xFFF8) != 0)
                return std::nullopt;
            at += 8;
        } else if (header == kHopByHopHeader || header == kRoutingHeader || header == kDestinationOptionsHeader) {
            auto units = r.U8At(at + 1);
            if (!units)
                return std::nullopt;
            at += (std::size_t(*units) + 1) * 8;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<IpHeader> ReadIpHeader(const ByteReader& r)
{
    auto version = r.U8At(0);
    if (!version)
        return std::nullopt;
    if ((*version >> 4) == 4)
        return ReadIpv4Header(r);
    if ((*version >> 4) == 6)
        return ReadIpv6Header(r);
    return std::nullopt;
}

}  // namespace

std::uint16_t TransportHeaderEnd(const std::uint8_t* packet, std::size_t length)
{
    const ByteReader r(packet, std::min<std::size_t>(length, kCaptureFrameMax));
    auto ip = ReadIpHeader(r);
    if (!ip)
        return 0;
    if (ip->protocol == kProtocolUdp)
        return std::uint16_t(ip->headerLength + kUdpHeaderSize);
    if (ip->protocol != kProtocolTcp)
        return 0;
    auto dataOffset = r.U16At(ip->headerLength + 12);
    if (!dataOffset || (*dataOffset >> 12) < 5)
        return 0;
    return std::uint16_t(ip->headerLength + 4 * (*dataOffset >> 12));
}

int DecodeCapturedPacket(const std::uint8_t* frame, std::size_t received, CapturedPacket& packet)
{
    std::memset(&packet, 0, sizeof packet);
    ByteReader r(frame, std::min<std::size_t>(received, kCaptureFrameMax));
    auto ip = ReadIpHeader(r);
    if (!ip)
        return 0;
    const std::size_t length = std::min(r.Size(), ip->packetLength);
    const std::size_t end = TransportHeaderEnd(frame, length);
    // The header end covers the ports, so a packet that holds it holds them too.
    auto sourcePort = r.U16At(ip->headerLength);
    auto destPort = r.U16At(ip->headerLength + 2);
    if (end == 0 || end >= length || !sourcePort || !destPort)
        return 0;
    if (ip->version == 4) {
        auto source = r.U32At(12);
        auto dest = r.U32At(16);
        if (!source || !dest)
            return 0;
        packet.sourceAddress = htonl(*source);
        packet.destAddress = htonl(*dest);
    } else if (!r.Seek(8) || !r.Copy(packet.sourceAddress6, 16) || !r.Copy(packet.destAddress6, 16)) {
        return 0;
    }
    if (!r.Seek(end) || !r.Copy(packet.payload, length - end)) {
        std::memset(&packet, 0, sizeof packet);
        return 0;
    }
    packet.payloadLength = std::uint16_t(length - end);
    packet.isTcp = ip->protocol == kProtocolTcp ? 1 : 0;
    packet.ipVersion = ip->version;
    packet.sourcePort = *sourcePort;
    packet.destPort = *destPort;
    return int(length);
}

bool PassesCaptureFilter(const CapturedPacket& packet, const CaptureSettings& settings)
{
    if (packet.ipVersion != settings.ipVersion)
        return false;
    if ((settings.protocolFilter == CaptureProtocol::Tcp && !packet.isTcp) ||
        (settings.protocolFilter == CaptureProtocol::Udp && packet.isTcp))
        return false;
    const bool source = packet.sourcePort == settings.portFilter, dest = packet.destPort == settings.portFilter;
    switch (settings.portDirection) {
    case PortDirection::Either: return source || dest;
    case PortDirection::Source: return source;
    case PortDirection::Destination: return dest;
    }
    return false;
}
