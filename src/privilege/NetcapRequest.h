#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/CaptureFilter.h"
#include "net/IpAddress.h"
#include "os/PacketSocket.h"

// What the program and the privilege helper quorlix-netcap say to each other
// over a Unix SOCK_SEQPACKET socket pair, one message per datagram.
//
// The first message opens the run; text, one line, single blanks:
//
//   echo\n                                       an echo session
//   capture <interface> <protocol> <direction> <port>\n
//                                                a capture session on <interface>; protocol 0 TCP & UDP,
//                                                1 TCP, 2 UDP; direction 0 either port, 1 source, 2 destination
//   kill <laddr> <lport> <raddr> <rport>\n       destroy one established TCP connection; both
//                                                addresses dotted IPv4, or both IPv6 in RFC 5952 text,
//                                                a link-local one with %<interface index>
//
// The helper answers "ok\n" or "error <errno>\n". After "ok\n" a session goes
// on with the binary messages below until the program closes its end. Nothing
// ever carries a descriptor; anything else is refused.

enum class NetcapKind { Echo, Capture, KillTcp };

struct NetcapRequest {
    NetcapKind kind = NetcapKind::Echo;
    std::string interfaceName;        // Capture
    std::uint8_t ipVersion = 4;       // Capture: 4, or 6 when the request ends in " 6"
    CaptureProtocol protocolFilter{};  // Capture
    PortDirection portDirection{};     // Capture
    std::uint16_t portFilter = 0;     // Capture, 1-65535
    IpAddress localAddress;           // KillTcp
    std::uint16_t localPort = 0;      // KillTcp, host byte order
    IpAddress remoteAddress;
    std::uint16_t remotePort = 0;
};

inline constexpr std::size_t kNetcapMaxMessage = 128;

// The request, or nullopt for anything that is not exactly one of the three forms.
std::optional<NetcapRequest> ParseNetcapRequest(std::string_view text);
std::string FormatNetcapRequest(const NetcapRequest& request);

// 0 for "ok\n", the errno for "error <errno>\n", nullopt for anything else.
std::optional<int> ParseNetcapReply(std::string_view text);
std::string FormatNetcapReply(int error);

// A network interface name as the kernel accepts one: 1 to 15 printable
// characters, no blank, '/' or ':', and neither "." nor "..".
bool IsValidInterfaceName(std::string_view name);

// Echo session. The program sends one EchoAsk per echo, followed by the
// echo's data; the helper sends the echo itself (its echo probe picks
// identifier and sequence, and matches the answer by them) and answers with
// one EchoAnswer; a reply's data may follow it, though the helper sends none.
// The serial pairs them. Addresses travel as a family (AF_INET or AF_INET6)
// and 16 bytes in network order, an IPv4 address in the first 4 and zeros
// after it; a zone's interface index only with IPv6.
struct NetcapEchoAsk {
    std::uint32_t serial = 0;
    std::uint32_t timeoutMs = 0;    // 1 to kNetcapMaxEchoTimeoutMs
    std::uint32_t scope = 0;        // the destination's zone, IPv6 only
    std::uint8_t family = 0;        // AF_INET or AF_INET6; an IPv6 destination is never :: or multicast
    std::uint8_t ttl = 0;           // 1-255, the hop limit of an IPv6 echo
    std::uint8_t reserved[2] = {};
    std::uint8_t destination[16] = {};
};

struct NetcapEchoAnswer {
    std::uint32_t serial = 0;
    std::uint32_t replied = 0;      // 1 when an answer came (roundTripMs counts), 0 for a failure
    std::uint32_t status = 0;       // the probe's EchoStatus
    std::uint32_t roundTripMs = 0;
    std::uint32_t ttl = 0;
    std::uint32_t family = 0;       // of the answering node: AF_INET, AF_INET6, or 0 (and all zeros) for none
    std::uint32_t scope = 0;        // IPv6 only
    std::uint8_t address[16] = {};
};

// The address fields of an ask or an answer, and back.
IpAddress NetcapEchoAskDestination(const NetcapEchoAsk& ask);
IpAddress NetcapEchoAnswerAddress(const NetcapEchoAnswer& answer);
void SetNetcapEchoAskDestination(NetcapEchoAsk& ask, const IpAddress& destination);
void SetNetcapEchoAnswerAddress(NetcapEchoAnswer& answer, const IpAddress& address);

// The most data an echo carries: the Ping and Traceroute pages send 32 bytes,
// and the helper sends nothing larger for anyone.
inline constexpr std::size_t kNetcapMaxEchoData = 32;
inline constexpr std::uint32_t kNetcapMaxEchoTimeoutMs = 120000;

// A message of these forms, or nullopt for a wrong size or out-of-range field.
// data receives the bytes behind the fixed part.
std::optional<NetcapEchoAsk> ParseNetcapEchoAsk(const std::uint8_t* bytes, std::size_t size,
                                               std::vector<std::uint8_t>& data);
std::optional<NetcapEchoAnswer> ParseNetcapEchoAnswer(const std::uint8_t* bytes, std::size_t size,
                                                     std::vector<std::uint8_t>& data);
std::vector<std::uint8_t> FormatNetcapEchoAsk(const NetcapEchoAsk& ask, const void* data, std::size_t size);
std::vector<std::uint8_t> FormatNetcapEchoAnswer(const NetcapEchoAnswer& answer, const void* data,
                                                 std::size_t size);

// Capture session. The helper sends each frame as 'F', the kernel's receive
// time (8 bytes, nanoseconds since the epoch), the frame's length before it
// was cut (4 bytes, at least the frame's, at most kNetcapMaxOriginalLength),
// both in host order, then the frame's bytes (IP header on, 1 to
// kCaptureFrameMax of them); when the kernel's drop count
// has grown, at most once a second, 'D' and the count so far (4 bytes, host
// order); at the end 'E' and the final count. The program asks for the end
// with "stop\n", or just closes its end. A capture request whose port is
// followed by " 6" keeps the interface's IPv6 frames instead of its IPv4 ones.
inline constexpr std::uint8_t kNetcapFrame = 'F';
inline constexpr std::size_t kNetcapFrameHead = 1 + 8 + 4;
inline constexpr std::uint32_t kNetcapMaxOriginalLength = 40 + 65535;
// The kNetcapFrameHead bytes before a frame's; and back, given the message's
// size: nullopt unless it is a frame message whose lengths agree.
void FormatNetcapFrameHead(std::uint8_t* head, const PacketFrameInfo& info);
std::optional<PacketFrameInfo> ParseNetcapFrameHead(const std::uint8_t* head, std::size_t messageSize);
inline constexpr std::uint8_t kNetcapDrops = 'D';
inline constexpr std::uint8_t kNetcapEnd = 'E';
inline constexpr int kNetcapDropReportMs = 1000;
inline constexpr std::string_view kNetcapStop = "stop\n";
