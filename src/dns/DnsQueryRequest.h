#pragma once

#include <cstdint>
#include <string>

#include "dns/DnsMessage.h"
#include "net/IpAddress.h"

// The record types the page asks for, as their QTYPE; None for no choice.
enum class DnsQueryType : std::uint16_t {
    None = 0,
    A = kDnsTypeA,
    NS = kDnsTypeNS,
    CNAME = kDnsTypeCNAME,
    SOA = kDnsTypeSOA,
    PTR = kDnsTypePTR,
    HINFO = kDnsTypeHINFO,
    MX = kDnsTypeMX,
    AAAA = kDnsTypeAAAA,
};

// A query as the controls gave it when QUERY was pressed.
struct DnsQueryRequest {
    std::string name;
    std::string server;
    DnsQueryType type = DnsQueryType::None;
};

// What Resolve Name looks up: the host name of an address, or the addresses
// of a name (an ASCII name as the resolver takes it).
struct ResolveRequest {
    IpAddress address;  // none for a look-up by name
    std::string name;
};

// The dig command that asks what the query asks: the same server, name and
// type, one plain DNS message without EDNS (recursion desired, TCP after a
// truncated answer are dig's defaults too). Empty when the query asks nothing.
std::string DigCommandLine(const DnsQueryRequest& query);

// The getent command that asks the system resolver what Resolve Name asks.
std::string ResolveCommandLine(const ResolveRequest& request);
