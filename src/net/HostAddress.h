#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

// IPv4 addresses are 32-bit values in network byte order throughout.

// A text that begins with a decimal digit is converted as a dotted address and
// never looked up (all ones when it is not one); any other text goes to the
// system resolver, IPv4 only: its first address, or 0. A null text gives 0.
std::uint32_t LookupHostAddress(const char* text);

class CancelToken;

// The same for a task that must stop when token is cancelled (see below).
std::uint32_t LookupHostAddress(const char* text, const CancelToken* token);

// The first IPv4 address the system resolver gives for name, or 0 when it
// gives none. Blocks for as long as the resolver takes.
std::uint32_t ResolveHostName(const char* name);

// The same for a task that must stop when token is cancelled. The system
// resolver cannot be interrupted, so the name is looked up on a thread of its
// own while the caller waits beside token until the deadline; cancelled or
// out of time, the caller gets 0 at once and the look-up finishes alone. A
// null token waits for the resolver.
std::uint32_t ResolveHostName(const char* name, const CancelToken* token,
                              std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// Whether a text the user typed is taken for an address rather than a host
// name: it begins and ends with a decimal digit, or it is an IPv6 literal.
bool LooksLikeAddress(std::string_view text);

// Dotted-decimal text of address into out (size bytes, terminator included).
// False, with nothing copied, when out is null or too small.
bool AddressToText(std::uint32_t address, char* out, std::size_t size);
