#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// The built-in whois servers. A table entry's key is not stored apart: it is
// the host name from its last "." on, so every host name ends with the label
// of the top-level domain it serves.

inline constexpr std::size_t kWhoisServerCount = 65;  // positions 0 to 64
inline constexpr std::size_t kWhoisServerListSize = 85;

// Copies the host name at position into area (size bytes, terminator
// included). False, with area unchanged, for a position above 64 or an area
// too small for the name.
bool FetchWhoisServer(std::size_t position, char* area, std::size_t size);

// The server for a query by its last label, compared exactly (case and dot
// included) with each key in table order; queries whose label has no key get
// the last entry, the com server. False, with area unchanged beyond the first
// fetch, when the query holds no ".".
bool SelectWhoisServer(std::string_view query, char* area, std::size_t size);

// The names offered in the page's server box: the table's servers, the
// regional internet registries' and some further registries' servers.
std::span<const std::string_view> WhoisServerList();
