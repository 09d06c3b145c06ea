#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/IpAddress.h"

// What the system resolver is configured with, read from a resolv.conf.
struct ResolverConfig {
    std::vector<std::string> nameServers;  // IPv4 "nameserver" addresses (and IPv6 ones if asked), in file order
    std::string domain;  // of "domain" and "search" the last line wins; of "search" its first entry
};

// An unreadable file gives an empty configuration. With ipv6Too the IPv6
// name servers are kept beside the IPv4 ones, in file order.
ResolverConfig ReadResolvConf(const char* path, bool ipv6Too = false);

// The IPv4 name servers of resolvConf in order (with ipv6Too, the IPv6 ones
// among them). Where one is the local stub of
// systemd-resolved, the upstream servers it publishes in stubUpstreamConf (if
// any, and null for none) stand in its place; a second stub adds nothing more.
std::vector<std::string> DnsServerList(const char* resolvConf, const char* stubUpstreamConf, bool ipv6Too = false);

constexpr const char* kResolvConf = "/etc/resolv.conf";
constexpr const char* kResolvedUpstreamConf = "/run/systemd/resolve/resolv.conf";

// The host's first configured DNS server (the first IPv4 nameserver of
// /etc/resolv.conf), or 0 when none is configured. When that server is the
// local stub of systemd-resolved, the first upstream server the stub
// publishes is returned instead, where it publishes one.
std::uint32_t GetDefaultDnsServer();

// The same, read from the given files (for tests).
std::uint32_t GetDefaultDnsServer(const char* resolvConf, const char* stubUpstreamConf);

// The host's first configured DNS server of either family, the stub replaced
// as above; none when none is configured. The query page starts with it.
IpAddress DefaultDnsServerAddress(const char* resolvConf = kResolvConf,
                                  const char* stubUpstreamConf = kResolvedUpstreamConf);
