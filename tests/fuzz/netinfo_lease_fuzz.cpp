// Lease files of any content, in both formats: a lease found has a dotted server address and dates of 24 characters.
#include <arpa/inet.h>

#include <cstdlib>

#include "hostcfg/DhcpLease.h"
#include "hostinfo/NetInfoReports.h"

void CheckLease(const std::optional<DhcpLease>& lease)
{
    in_addr in{};
    if (lease && (inet_pton(AF_INET, lease->server.c_str(), &in) != 1 || LeaseDateText(lease->obtained).size() != 24 ||
                  LeaseDateText(lease->expires).size() != 24))
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckLease(ParseDhclientLeases(text, "eth0"));
    CheckLease(ParseDhclientLeases(text, ""));
    CheckLease(ParseKeyValueLease(text, 1796724000));
    return 0;
}
