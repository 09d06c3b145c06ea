#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/IpAddress.h"

class CancelToken;
class EchoProbe;

// The Ping and Traceroute reports over an echo probe, and the IP status codes
// and names they print.

// The text of the Ping and Traceroute workers, written to a sink as it comes
// (the page's pane, or a test's string), with CR LF line ends and tabs.
using OutputSink = std::function<void(std::string_view)>;

struct EchoResult {
    IpAddress address;          // the node that answered; none when nothing answered
    std::uint32_t status;       // IP status code; 0: the destination answered
    std::int32_t roundTripMs;   // -1 when the echo failed
};

inline constexpr std::uint32_t kDefaultEchoTimeoutMs = 3000;
inline constexpr int kPingTtl = 128;

// Sends one echo of 32 bytes of 0x45 to destination (IPv4 or IPv6) with the
// low 8 bits of timeToLive (255 when they are 0) as its TTL or hop limit, and waits up to timeoutMs
// (3000 when 0) or the token; roundTripMs is -1 when no answer came. A
// router's error report is an answer: its status says which.
EchoResult SendEcho(EchoProbe& probe, const IpAddress& destination, int timeToLive, std::uint32_t timeoutMs,
                    const CancelToken* token);

// One echo with time-to-live 128 and 3000 ms: its round-trip time when the
// destination answered, else -1 (also for a router's error report).
int PingHost(EchoProbe& probe, const IpAddress& destination, const CancelToken* token);

// The name of an IP status code; "Status Unknown" for a code without one.
const char* IcmpStatusName(std::uint32_t status);

// Resolves host and pings it once: the resolving line, the bracketed address
// and the milliseconds, or "Ping Failed!". The last text has no line break.
// An IPv6 literal, or a name with IPv6 addresses alone, is pinged over IPv6.
// A cancelled token ends the look-up of the name at once.
void RunPing(const std::string& host, const OutputSink& out, EchoProbe& probe, const CancelToken* token);

// The ping command of RunPing: one echo with the same TTL and time-out.
std::string PingCommandLine(const std::string& host);

inline constexpr int kTraceFirstTtl = 1;
inline constexpr int kTraceLastTtl = 254;
inline constexpr std::uint32_t kTraceHopTimeoutMs = 2000;

// Resolves host and traces it, one echo per time-to-live, ending with
// "\r\nTrace Complete". Once token is cancelled no further echo is sent.
void RunTrace(const std::string& host, const OutputSink& out, EchoProbe& probe, const CancelToken* token);

// The traceroute command of RunTrace: ICMP echoes, one a hop up to the same
// last hop, the same time-out, addresses without names.
std::string TraceCommandLine(const std::string& host);

// One hop line: "%-3d  %-15s  %-5d  %s\r\n"; a longer address widens it.
std::string FormatHopLine(int ttl, const char* address, int roundTripMs, const char* statusName);

// Whether the trace sends the next echo after hop ttl, given what SendEcho
// returned (replied) and the status it left.
bool TraceGoesOn(int ttl, int replied, std::uint32_t status);
