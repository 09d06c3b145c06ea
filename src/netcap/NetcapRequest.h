#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The requests the privilege helper quorlix-netcap serves, one per run, as one
// datagram of a Unix SOCK_SEQPACKET socket pair. Text, one line, single blanks:
//
//   icmp\n                               open a raw ICMP socket
//   packet <interface>\n                 open a packet socket (ETH_P_ALL) bound to <interface>
//   kill <laddr> <lport> <raddr> <rport>\n  destroy one IPv4 TCP connection
//
// The answer is "ok\n" (with the socket attached as SCM_RIGHTS for the first
// two) or "error <errno>\n". Anything else is refused.

enum class NetcapKind { RawIcmp, PacketSocket, KillTcp };

struct NetcapRequest {
    NetcapKind kind = NetcapKind::RawIcmp;
    std::string interfaceName;        // PacketSocket
    std::uint32_t localAddress = 0;   // KillTcp, network byte order
    std::uint16_t localPort = 0;      // KillTcp, host byte order
    std::uint32_t remoteAddress = 0;
    std::uint16_t remotePort = 0;
};

inline constexpr std::size_t kNetcapMaxMessage = 96;

// The request, or nullopt for anything that is not exactly one of the three forms.
std::optional<NetcapRequest> ParseNetcapRequest(std::string_view text);
std::string FormatNetcapRequest(const NetcapRequest& request);

// 0 for "ok\n", the errno for "error <errno>\n", nullopt for anything else.
std::optional<int> ParseNetcapReply(std::string_view text);
std::string FormatNetcapReply(int error);

// A network interface name as the kernel accepts one: 1 to 15 printable
// characters, no blank, '/' or ':', and neither "." nor "..".
bool IsValidInterfaceName(std::string_view name);
