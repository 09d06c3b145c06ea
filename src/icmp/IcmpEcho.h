#pragma once

#include <cstddef>
#include <cstdint>

// One ICMP echo through the process-wide IcmpLibrary binding.

struct EchoResult {
    std::uint32_t address;      // the node that answered, network byte order; 0 when nothing was written
    std::uint32_t status;       // IP status code; 0: the destination answered
    std::int32_t roundTripMs;   // -1 when the echo failed
};

inline constexpr std::uint32_t kDefaultEchoTimeoutMs = 3000;
inline constexpr int kPingTtl = 128;

// Sends one echo of 32 bytes of 0x45 to destination (network byte order) with
// the low 8 bits of timeToLive (255 when they are 0), and waits up to timeoutMs
// (3000 when 0). 1 when exactly one reply record came back, else 0 with
// roundTripMs -1. A router's error report is a reply: its status says which.
int SendEcho(std::uint32_t destination, int timeToLive, std::uint32_t timeoutMs, EchoResult* result);

// One echo with time-to-live 128 and 3000 ms: its round-trip time when the
// destination answered, else -1 (also for a router's error report).
int PingHost(std::uint32_t destination);

// The name of an IP status code into buffer (size bytes, terminator
// included), cut to fit; nothing when buffer is null or size 0.
void IcmpStatusName(std::uint32_t status, char* buffer, std::size_t size);
