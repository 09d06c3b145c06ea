// Lease files of any content, in both formats: a lease, when one is found,
// has a dotted server address and prints its dates in the fixed 24 characters.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hostinfo/NetInfoReports.h"
#include "hostcfg/DhcpLease.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckLease(const std::optional<DhcpLease>& lease)
{
    if (!lease)
        return;
    in_addr in{};
    Check(inet_pton(AF_INET, lease->server.c_str(), &in) == 1);
    Check(LeaseDateText(lease->obtained).size() == 24 && LeaseDateText(lease->expires).size() == 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckLease(ParseDhclientLeases(text, "eth0"));
    CheckLease(ParseDhclientLeases(text, ""));
    CheckLease(ParseKeyValueLease(text, 1796724000));
    return 0;
}
