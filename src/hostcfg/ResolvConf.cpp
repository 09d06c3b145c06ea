#include "hostcfg/ResolvConf.h"

#include <fstream>
#include <sstream>

ResolverConfig ReadResolvConf(const char* path)
{
    ResolverConfig config;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string keyword, value;
        if (!(words >> keyword >> value))
            continue;
        if (keyword == "nameserver") {
            if (ParseIpLiteral(value))
                config.nameServers.push_back(value);
        } else if (keyword == "domain" || keyword == "search") {
            config.domain = value;
        }
    }
    return config;
}

namespace {

// systemd-resolved's stub listeners; it publishes its upstream servers beside them.
bool IsResolvedStub(const std::string& address)
{
    return address == "127.0.0.53" || address == "127.0.0.54";
}

}  // namespace

std::vector<std::string> DnsServerList(const char* resolvConf, const char* stubUpstreamConf)
{
    std::vector<std::string> upstream;
    if (stubUpstreamConf) {
        upstream = ReadResolvConf(stubUpstreamConf).nameServers;
        std::erase_if(upstream, IsResolvedStub);
    }
    std::vector<std::string> servers;
    bool stubExpanded = false;
    for (const std::string& server : ReadResolvConf(resolvConf).nameServers) {
        if (!IsResolvedStub(server) || upstream.empty()) {
            servers.push_back(server);
        } else if (!stubExpanded) {
            servers.insert(servers.end(), upstream.begin(), upstream.end());
            stubExpanded = true;
        }
    }
    return servers;
}

IpAddress DefaultDnsServerAddress(const char* resolvConf, const char* stubUpstreamConf)
{
    const std::vector<std::string> servers = DnsServerList(resolvConf, stubUpstreamConf);
    return servers.empty() ? IpAddress() : ParseIpLiteral(servers.front()).value_or(IpAddress());
}
