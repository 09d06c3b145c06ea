#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// IPv4 addresses are 32-bit values in network byte order throughout.

// Whether a text the user typed is taken for an address rather than a host
// name: it begins and ends with a decimal digit, or it is an IPv6 literal.
bool LooksLikeAddress(std::string_view text);

// Dotted-decimal text of address into out (size bytes, terminator included).
// False, with nothing copied, when out is null or too small.
bool AddressToText(std::uint32_t address, char* out, std::size_t size);
