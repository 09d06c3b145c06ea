#include "dns/DnsQueryRequest.h"

#include "net/ShellWords.h"

namespace {

const char* DigTypeName(DnsQueryType type)
{
    switch (type) {
    case DnsQueryType::A: return "A";
    case DnsQueryType::NS: return "NS";
    case DnsQueryType::CNAME: return "CNAME";
    case DnsQueryType::SOA: return "SOA";
    case DnsQueryType::PTR: return "PTR";
    case DnsQueryType::HINFO: return "HINFO";
    case DnsQueryType::MX: return "MX";
    case DnsQueryType::AAAA: return "AAAA";
    case DnsQueryType::None: break;
    }
    return nullptr;
}

}  // namespace

std::string DigCommandLine(const DnsQueryRequest& query)
{
    const char* type = DigTypeName(query.type);
    if (query.name.empty() || query.server.empty() || !type)
        return {};
    const std::string server = std::string("@").append(CommandHost(query.server));
    // dig reads a word that begins so as an option or a server; -q names the query outright.
    if (query.name.find_first_of("-+@") == 0)
        return ShellCommand({"dig", server, "-q", query.name, type, "+noedns"});
    return ShellCommand({"dig", server, query.name, type, "+noedns"});
}

std::string ResolveCommandLine(const ResolveRequest& request)
{
    if (!request.address.IsNone())
        return ShellCommand({"getent", "hosts"}, {IpText(request.address)});
    return ShellCommand({"getent", "ahosts"}, {request.name});
}
