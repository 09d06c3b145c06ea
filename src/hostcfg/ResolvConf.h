#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/IpAddress.h"

// What the system resolver is configured with, read from a resolv.conf.
struct ResolverConfig {
    std::vector<std::string> nameServers;  // "nameserver" addresses, IPv4 and IPv6, in file order
    std::string domain;  // of "domain" and "search" the last line wins; of "search" its first entry
};

// An unreadable file gives an empty configuration.
ResolverConfig ReadResolvConf(const char* path);

// The name servers of resolvConf in order. Where one is the local stub of
// systemd-resolved, the upstream servers it publishes in stubUpstreamConf (if
// any, and null for none) stand in its place; a second stub adds nothing more.
std::vector<std::string> DnsServerList(const char* resolvConf, const char* stubUpstreamConf);

constexpr const char* kResolvConf = "/etc/resolv.conf";
constexpr const char* kResolvedUpstreamConf = "/run/systemd/resolve/resolv.conf";

// The host's first configured DNS server of either family, the stub replaced
// by its first upstream server as above; none when none is configured.
IpAddress DefaultDnsServerAddress(const char* resolvConf = kResolvConf,
                                  const char* stubUpstreamConf = kResolvedUpstreamConf);
