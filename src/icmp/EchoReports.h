#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class CancelToken;

// The text of the Ping and Traceroute workers, written to a sink as it comes
// (the page's pane, or a test's string), with CR LF line ends and tabs.
using OutputSink = std::function<void(std::string_view)>;

// Resolves host and pings it once: the resolving line, the bracketed address
// and the milliseconds, or "Ping Failed!". The last text has no line break.
// A cancelled token ends the look-up of the name at once.
void RunPing(const std::string& host, const OutputSink& out, const CancelToken* token = nullptr);

inline constexpr int kTraceFirstTtl = 1;
inline constexpr int kTraceLastTtl = 254;
inline constexpr std::uint32_t kTraceHopTimeoutMs = 2000;

// Resolves host and traces it, one echo per time-to-live, ending with
// "\r\nTrace Complete". Once token is cancelled no further echo is sent.
void RunTrace(const std::string& host, const OutputSink& out, const CancelToken* token);

// One hop line: "%-3d  %-15s  %-5d  %s\r\n".
std::string FormatHopLine(int ttl, const char* address, int roundTripMs, const char* statusName);

// Whether the trace sends the next echo after hop ttl, given what SendEcho
// returned (replied) and the status it left.
bool TraceGoesOn(int ttl, int replied, std::uint32_t status);
