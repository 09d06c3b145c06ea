#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "net/IpAddress.h"
#include "os/Fd.h"
#include "privilege/NetcapClient.h"

class CancelToken;

// What answered one echo, or why nothing did.
enum class EchoStatus : std::uint8_t {
    Reply,                 // the destination's echo reply
    TtlExpiredTransit,     // from here to SourceQuench: an ICMP error report about the echo
    TtlExpiredReassembly,
    NetUnreachable,        // also the local stack refusing to send (then without an answer)
    HostUnreachable,       // the same
    ProtocolUnreachable,
    PortUnreachable,
    FragmentationNeeded,   // also a local refusal: too big for the route
    SourceRouteFailed,
    ParameterProblem,
    SourceQuench,
    TimedOut,              // no answer before the deadline, or the wait was cancelled
    Failed,                // no way to send, or an error on the socket
};

struct EchoRequest {
    IpAddress destination;          // IPv4 or IPv6, a link-local one with its zone
    std::uint8_t ttl = 64;          // 1-255; the hop limit of an IPv6 echo
    std::span<const std::uint8_t> data;  // the helper carries at most kNetcapMaxEchoData
    std::chrono::steady_clock::time_point deadline;
};

struct EchoAnswer {
    EchoStatus status = EchoStatus::Failed;
    IpAddress from;          // the answering node; none when nothing answered
    int roundTripMs = -1;    // -1 when nothing answered (no answer in time, or a local failure)
    std::uint8_t ttl = 0;    // of the answering packet (its hop limit for IPv6); 0 where unknown
};

// Sends ICMP echoes and waits for the answer to each, matched by identifier
// and sequence, while watching the caller's cancel token.
//
// The first echo of each family opens the probe's way out for it, in this
// order: an ICMP (ICMPv6) datagram socket (allowed where the caller's group is
// inside net.ipv4.ping_group_range, which covers both families; the kernel then
// owns the identifier and reports routers' errors through IP_RECVERR or
// IPV6_RECVERR), a raw ICMP (ICMPv6) socket when the process holds CAP_NET_RAW,
// else the privilege helper's echo session, one for both families, where the
// helper sends each echo from its own probe's raw sockets. Tests derive a fake
// that overrides Send.
class EchoProbe {
public:
    EchoProbe() = default;
    // A probe on the raw ICMP and ICMPv6 sockets the caller opened (the
    // helper's); an invalid one fails every echo of its family.
    EchoProbe(Fd rawIcmp, Fd rawIcmp6);
    virtual ~EchoProbe();
    EchoProbe(const EchoProbe&) = delete;
    EchoProbe& operator=(const EchoProbe&) = delete;

    virtual EchoAnswer Send(const EchoRequest& request, const CancelToken* token);

    // Why the probe found no way to send; None until it tried, and after a success.
    PrivilegeFailure Failure() const { return failure_; }

private:
    // The probe's own socket of one family.
    struct Way {
        bool opened = false;
        Fd socket;                // the datagram or raw socket, when the probe has its own
        bool datagram = false;    // the kernel sets the identifier
        std::uint16_t identifier = 0;
    };

    void Open(Way& way, int family, const CancelToken* token);
    static void Adopt(Way& way, int family, Fd socket, bool datagram);
    EchoAnswer SendThroughHelper(const EchoRequest& request, const CancelToken* token);

    Way ways_[2];             // IPv4, IPv6
    bool helperAsked_ = false;
    NetcapSession helper_;    // else the helper's echo session
    std::uint32_t serial_ = 0;
    PrivilegeFailure failure_ = PrivilegeFailure::None;
};

// One datagram of a raw ICMP socket, IP header first: the answer (without its
// round trip) when it answers the echo with this identifier and sequence sent
// to destination, its echo reply or an error report quoting that very echo.
// Everything else (the request's own copy on loopback, other programs'
// traffic, short or malformed packets) is nullopt.
std::optional<EchoAnswer> ParseRawIcmpAnswer(std::span<const std::uint8_t> datagram, std::uint32_t destination,
                                             std::uint16_t identifier, std::uint16_t sequence);

// One datagram of a raw ICMPv6 socket, ICMPv6 header first (the kernel keeps
// the IPv6 header), from source with hopLimit: as ParseRawIcmpAnswer, an echo
// reply or an error report that quotes the echo to destination.
std::optional<EchoAnswer> ParseRawIcmp6Answer(std::span<const std::uint8_t> datagram, const IpAddress& source,
                                              std::uint8_t hopLimit, const IpAddress& destination,
                                              std::uint16_t identifier, std::uint16_t sequence);

// One datagram of an ICMP or ICMPv6 (family) datagram socket, ICMP header
// first (the kernel has already matched the identifier): whether it is the
// echo reply of sequence.
bool IsDatagramEchoReply(std::span<const std::uint8_t> datagram, std::uint16_t sequence, int family = AF_INET);
