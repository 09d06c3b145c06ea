#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

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
    std::uint32_t destination = 0;  // network byte order
    std::uint8_t ttl = 64;          // 1-255
    std::span<const std::uint8_t> data;  // the helper carries at most kNetcapMaxEchoData
    std::chrono::steady_clock::time_point deadline;
};

struct EchoAnswer {
    EchoStatus status = EchoStatus::Failed;
    std::uint32_t from = 0;  // the answering node, network byte order; 0 when nothing answered
    int roundTripMs = -1;    // -1 when nothing answered (no answer in time, or a local failure)
    std::uint8_t ttl = 0;    // of the answering packet; 0 where unknown
};

// Sends ICMP echoes and waits for the answer to each, matched by identifier
// and sequence, while watching the caller's cancel token.
//
// The first echo opens the probe's way out, in this order: an ICMP datagram
// socket (allowed where the caller's group is inside net.ipv4.ping_group_range;
// the kernel then owns the identifier and reports routers' errors through
// IP_RECVERR), a raw ICMP socket when the process holds CAP_NET_RAW, else the
// privilege helper's echo session, where the helper sends each echo from its
// own probe's raw socket. Tests derive a fake that overrides Send.
class EchoProbe {
public:
    EchoProbe() = default;
    // A probe on a raw ICMP socket the caller opened (the helper's).
    explicit EchoProbe(Fd rawSocket);
    virtual ~EchoProbe();
    EchoProbe(const EchoProbe&) = delete;
    EchoProbe& operator=(const EchoProbe&) = delete;

    virtual EchoAnswer Send(const EchoRequest& request, const CancelToken* token);

    // Why the probe found no way to send; None until it tried, and after a success.
    PrivilegeFailure Failure() const { return failure_; }

private:
    void Open(const CancelToken* token);
    void Adopt(Fd socket, bool datagram);
    EchoAnswer SendThroughHelper(const EchoRequest& request, const CancelToken* token);

    bool opened_ = false;
    Fd socket_;               // the datagram or raw socket, when the probe has its own
    bool datagram_ = false;   // the kernel sets the identifier
    std::uint16_t identifier_ = 0;
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

// One datagram of an ICMP datagram socket, ICMP header first (the kernel has
// already matched the identifier): whether it is the echo reply of sequence.
bool IsDatagramEchoReply(std::span<const std::uint8_t> datagram, std::uint16_t sequence);
