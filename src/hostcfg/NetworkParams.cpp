#include "hostcfg/NetworkParams.h"

#include <unistd.h>

#include <climits>
#include <fstream>

std::optional<NetworkParams> ReadNetworkParams(const NetworkParamSources& sources)
{
    NetworkParams params;
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return std::nullopt;
    params.hostName = host;

    int forwarding = 0;
    std::ifstream ipForward(sources.ipForward);
    if (!(ipForward >> forwarding))
        return std::nullopt;
    params.ipForwarding = forwarding != 0;

    // getdomainname() would give the NIS domain, which is not the resolver's.
    params.domainName = ReadResolvConf(sources.resolvConf).domain;
    if (params.domainName.empty()) {
        const auto dot = params.hostName.find('.');
        if (dot != std::string::npos)
            params.domainName = params.hostName.substr(dot + 1);
    }
    params.dnsServers = DnsServerList(sources.resolvConf, sources.stubUpstreamConf);
    return params;
}
