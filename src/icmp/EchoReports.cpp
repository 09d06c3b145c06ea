#include "icmp/EchoReports.h"

#include <cstdio>

#include "net/HostAddress.h"
#include "icmp/IcmpEcho.h"
#include "os/CancelToken.h"

namespace {

constexpr const char* kInvalidAddress = "Invalid Address!\r\n\tPing Failed!";

// "[a.b.c.d]"
std::string Bracketed(std::uint32_t address)
{
    char text[20] = "";
    AddressToText(address, text, sizeof text);
    return std::string("[") + text + "]";
}

// The resolving line; 0 when the host has no address (the failure is written)
// or the look-up was cancelled.
std::uint32_t Resolve(const std::string& host, const OutputSink& out, const CancelToken* token)
{
    out("\tResolving Address For ");
    out(host);
    out("...\r\n\t");
    std::uint32_t address = LookupHostAddress(host.c_str(), token);
    if (address == 0 && !(token && token->IsCancelled()))
        out(kInvalidAddress);
    return address;
}

}  // namespace

void RunPing(const std::string& host, const OutputSink& out, const CancelToken* token)
{
    std::uint32_t address = Resolve(host, out, token);
    if (address == 0 || (token && token->IsCancelled()))
        return;
    const std::string bracketed = Bracketed(address);
    out(bracketed);
    out("\r\n\r\n");
    out("\tPinging Host: ");
    out(bracketed);
    out("...\r\n");
    int ms = PingHost(address);
    if (ms >= 0) {
        char line[32];
        std::snprintf(line, sizeof line, "\t%d Milliseconds", ms);
        out(line);
    } else {
        out("\tPing Failed!");
    }
}

std::string FormatHopLine(int ttl, const char* address, int roundTripMs, const char* statusName)
{
    int n = std::snprintf(nullptr, 0, "%-3d  %-15s  %-5d  %s\r\n", ttl, address, roundTripMs, statusName);
    std::string line(std::size_t(n), '\0');
    std::snprintf(line.data(), line.size() + 1, "%-3d  %-15s  %-5d  %s\r\n", ttl, address, roundTripMs, statusName);
    return line;
}

bool TraceGoesOn(int ttl, int replied, std::uint32_t status)
{
    if (replied == 1 && status == 0)
        return false;  // the destination answered
    if (ttl >= kTraceLastTtl)
        return false;
    return replied == 1 || ttl == kTraceFirstTtl;  // a silent first hop is stepped over, no later one
}

void RunTrace(const std::string& host, const OutputSink& out, const CancelToken* token)
{
    std::uint32_t address = Resolve(host, out, token);
    if (address == 0 || (token && token->IsCancelled()))
        return;
    out(Bracketed(address));
    out("\r\n\r\n");
    out("Begining Trace");
    out("...\r\n\r\n");
    out("TTL  Host             Ms     Status\r\n");
    out("-----------------------------------\r\n");

    for (int ttl = kTraceFirstTtl; ttl <= kTraceLastTtl; ++ttl) {
        if (token && token->IsCancelled())
            return;
        EchoResult result{};
        int replied = SendEcho(address, ttl, kTraceHopTimeoutMs, &result);
        char statusName[200];
        IcmpStatusName(result.status, statusName, sizeof statusName);
        char hop[20] = "";
        AddressToText(result.address, hop, sizeof hop);
        out(FormatHopLine(ttl, hop, result.roundTripMs, statusName));
        if (!TraceGoesOn(ttl, replied, result.status))
            break;
    }
    out("\r\nTrace Complete");
}
