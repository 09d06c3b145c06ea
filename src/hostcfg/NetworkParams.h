#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hostcfg/ResolvConf.h"

// The host's network parameters, as the IP configuration report shows them.
struct NetworkParams {
    std::string hostName;
    std::string domainName;               // the resolver's domain; never looked up
    std::vector<std::string> dnsServers;  // IPv4 and IPv6 addresses, in the resolver's order
    bool ipForwarding = false;
};

// Where the parameters are read from; tests point these at files of their own.
struct NetworkParamSources {
    const char* resolvConf = kResolvConf;
    const char* stubUpstreamConf = kResolvedUpstreamConf;
    const char* ipForward = "/proc/sys/net/ipv4/ip_forward";
};

// nullopt when the host name or the forwarding switch cannot be read. The
// domain is resolv.conf's (see ResolverConfig), else what follows the first
// dot of the host name, else empty.
std::optional<NetworkParams> ReadNetworkParams(const NetworkParamSources& sources = {});
