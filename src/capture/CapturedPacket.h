#pragma once

#include <cstddef>
#include <cstdint>

#include "net/CaptureFilter.h"

// One decoded TCP or UDP packet that carries payload.
struct CapturedPacket {
    std::uint32_t isTcp;          // 1 for TCP, 0 for UDP
    std::uint32_t sourceAddress;  // IPv4, network byte order
    std::uint32_t destAddress;    // IPv4, network byte order
    std::uint16_t sourcePort;     // host byte order
    std::uint16_t destPort;       // host byte order
    std::uint16_t payloadLength;
    std::uint8_t ipVersion;       // 4 or 6
    std::uint8_t sourceAddress6[16];  // IPv6, as on the wire
    std::uint8_t destAddress6[16];
    std::uint8_t payload[2002];   // the payload, then zeros
};

// How a packet's payload is shown, in the order the page lists the formats.
enum class CaptureView : std::uint8_t { HexDump, Text, None };

// The choices a capture reads once, when it starts: the filter's, which the
// kernel's filter follows too, and how packets are shown.
struct CaptureSettings : CaptureFilterSettings {
    bool showPacketInfo = true;
    CaptureView displayFormat = CaptureView::HexDump;
};

// Offset of the first payload byte of an IPv4 or IPv6 TCP or UDP packet,
// honouring the IPv4 header length and walking IPv6's extension headers
// (hop-by-hop, routing, destination options, fragment); 0 for anything that
// is not decoded: another protocol (ICMPv6, no next header, any unknown
// header) or IP version, a fragment other than the first, an IPv4 header
// length under 20, a TCP data offset under 5, or too few bytes to read the
// headers' fields. length is the number of bytes at packet (the result may
// exceed it).
std::uint16_t TransportHeaderEnd(const std::uint8_t* packet, std::size_t length);

// Decodes one received frame (IP header first) into packet, which is cleared
// first. The packet's length is the smaller of received and the length its IP
// header gives (IPv4's total length, IPv6's payload length and 40), so
// link-layer padding is never taken for payload. Returns that length, or 0
// when the frame is skipped: not a decodable TCP or UDP packet, no payload,
// or headers that end beyond the length. Never reads beyond received (nor
// beyond kCaptureFrameMax).
int DecodeCapturedPacket(const std::uint8_t* frame, std::size_t received, CapturedPacket& packet);

// Whether a decoded packet passes the IP version, protocol and port filters of settings.
bool PassesCaptureFilter(const CapturedPacket& packet, const CaptureSettings& settings);
