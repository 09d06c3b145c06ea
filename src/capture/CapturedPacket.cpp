// Decoding of captured IPv4 packets (RFC 791, 793, 768), from the IP header on:
//
//   IP   0  version(4) IHL(4)      TCP  0  source port (2)
//        2  total length (2)            2  destination port (2)
//        6  flags(3) fragment offset    12 data offset(4) ...
//        9  protocol (6 TCP, 17 UDP)
//        12 source address          UDP  0  source port (2)
//        16 destination address          2  destination port (2)
//        20 options (IHL*4 - 20)         8  payload
//
// Transport offsets count from the IP header's end, IHL*4 bytes in.
#include "capture/CapturedPacket.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "net/ByteReader.h"

namespace {

constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::size_t kUdpHeaderSize = 8;

struct IpHeader {
    std::size_t headerLength;
    std::uint16_t totalLength;
    std::uint8_t protocol;
};

// The IPv4 header fields the decode needs, or nothing when the packet is not
// a first (or only) fragment of an IPv4 packet with a sound header length.
std::optional<IpHeader> ReadIpHeader(ByteReader r)
{
    auto versionIhl = r.U8();
    if (!versionIhl || (*versionIhl >> 4) != 4)
        return std::nullopt;
    const std::size_t headerLength = std::size_t(*versionIhl & 0x0F) * 4;
    if (headerLength < 20 || !r.Seek(2))
        return std::nullopt;
    auto totalLength = r.U16();
    if (!totalLength || !r.Seek(6))
        return std::nullopt;
    auto fragment = r.U16();
    if (!fragment || (*fragment & 0x1FFF) != 0 || !r.Seek(9))
        return std::nullopt;
    auto protocol = r.U8();
    if (!protocol)
        return std::nullopt;
    return IpHeader{headerLength, *totalLength, *protocol};
}

}  // namespace

std::uint16_t TransportHeaderEnd(const std::uint8_t* packet, std::size_t length)
{
    ByteReader r(packet, std::min<std::size_t>(length, kCaptureFrameMax));
    auto ip = ReadIpHeader(r);
    if (!ip)
        return 0;
    if (ip->protocol == kProtocolUdp)
        return std::uint16_t(ip->headerLength + kUdpHeaderSize);
    if (ip->protocol != kProtocolTcp || !r.Seek(ip->headerLength + 12))
        return 0;
    auto dataOffset = r.U16();
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
    const std::size_t length = std::min<std::size_t>(r.Size(), ip->totalLength);
    const std::size_t end = TransportHeaderEnd(frame, length);
    // The header end covers the ports, so a packet that holds it holds them too.
    if (end == 0 || end >= length || !r.Seek(12))
        return 0;
    auto source = r.U32();
    auto dest = r.U32();
    if (!source || !dest || !r.Seek(ip->headerLength))
        return 0;
    auto sourcePort = r.U16();
    auto destPort = r.U16();
    if (!sourcePort || !destPort || !r.Seek(end))
        return 0;
    packet.payloadLength = std::uint16_t(length - end);
    if (!r.Copy(packet.payload, packet.payloadLength)) {
        packet.payloadLength = 0;
        return 0;
    }
    packet.isTcp = ip->protocol == kProtocolTcp ? 1 : 0;
    packet.sourceAddress = htonl(*source);
    packet.destAddress = htonl(*dest);
    packet.sourcePort = *sourcePort;
    packet.destPort = *destPort;
    return int(length);
}

bool PassesCaptureFilter(const CapturedPacket& packet, const CaptureSettings& settings)
{
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
