#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/IpAddress.h"

// A host named in a pane's text: an address or a host name as it stood there
// (no brackets, no port, no trailing dot), and the port written with it.
struct HostTarget {
    std::string host;                    // "192.0.2.1", "fe80::1%eth0", "whois.arin.net"
    IpAddress address;                   // the literal's address; none for a host name
    std::optional<std::uint16_t> port;  // "127.0.0.1:22", "[2001:db8::1]:443", "rwhois://host:4321"
};

// The host whose word in line covers column (a character offset): a connection
// table's endpoint, a trace hop, a record's address or name, a capture's
// Source or Dest, a referral server's URL. Nothing where the word names no
// host: a state, a protocol, a time, a number, an unspecified or broadcast
// address, a word of one label.
std::optional<HostTarget> HostTargetAt(std::string_view line, std::size_t column);

// The host a selection names: one word read as above, where a name of one
// label (such as "localhost") counts too.
std::optional<HostTarget> HostTargetOfSelection(std::string_view text);
