#include "icmp/EchoReports.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <optional>

#include "icmp/EchoProbe.h"
#include "net/ShellWords.h"
#include "os/CancelToken.h"
#include "privilege/NetcapRequest.h"

namespace {

constexpr std::size_t kRequestSize = 32;
constexpr std::uint8_t kRequestByte = 0x45;  // 'E'
static_assert(kRequestSize <= kNetcapMaxEchoData, "the privilege helper would refuse the pages' echoes");

// The IP status codes of the echo interface, their names, and the probe's
// status each stands for.
struct StatusRow {
    std::uint32_t code;
    const char* name;
    std::optional<EchoStatus> status = std::nullopt;
};

constexpr StatusRow kStatusTable[] = {
    {0, "SUCCESS", EchoStatus::Reply},
    {11001, "BUF_TOO_SMALL"},
    {11002, "DEST_NET_UNREACHABLE", EchoStatus::NetUnreachable},
    {11003, "DEST_HOST_UNREACHABLE", EchoStatus::HostUnreachable},
    {11004, "DEST_PROT_UNREACHABLE", EchoStatus::ProtocolUnreachable},
    {11005, "DEST_PORT_UNREACHABLE", EchoStatus::PortUnreachable},
    {11006, "NO_RESOURCES"},
    {11007, "BAD_OPTION"},
    {11008, "HW_ERROR"},
    {11009, "PACKET_TOO_BIG", EchoStatus::FragmentationNeeded},
    {11010, "REQ_TIMED_OUT", EchoStatus::TimedOut},
    {11011, "BAD_REQ"},
    {11012, "BAD_ROUTE", EchoStatus::SourceRouteFailed},
    {11013, "TTL_EXPIRED_TRANSIT", EchoStatus::TtlExpiredTransit},
    {11014, "TTL_EXPIRED_REASSEM", EchoStatus::TtlExpiredReassembly},
    {11015, "PARAM_PROBLEM", EchoStatus::ParameterProblem},
    {11016, "SOURCE_QUENCH", EchoStatus::SourceQuench},
    {11017, "OPTION_TOO_BIG"},
    {11018, "BAD_DESTINATION"},
    {11019, "ADDR_DELETED"},
    {11020, "SPEC_MTU_CHANGE"},
    {11021, "MTU_CHANGE"},
    {11022, "UNLOAD"},
    {11023, "ADDR_ADDED"},
    {11050, "GENERAL_FAILURE", EchoStatus::Failed},
    {11255, "PENDING"},
};

std::uint32_t StatusCode(EchoStatus status)
{
    const auto row = std::ranges::find(kStatusTable, std::optional(status), &StatusRow::status);
    return row == std::end(kStatusTable) ? 11050 : row->code;
}

constexpr const char* kInvalidAddress = "Invalid Address!\r\n\tPing Failed!";

// "[a.b.c.d]", "[2001:db8::1]"
std::string Bracketed(const IpAddress& address)
{
    // Appended to, not "[" + text: GCC 12 warns falsely of an overlap there in optimised builds.
    std::string text = "[";
    text += IpText(address);
    return text += ']';
}

// The resolving line; none when the host has no address (the failure is
// written) or the look-up was cancelled. IPv4 0 and IPv6 :: are no address.
IpAddress Resolve(const std::string& host, const OutputSink& out, const CancelToken* token)
{
    out("\tResolving Address For ");
    out(host);
    out("...\r\n\t");
    IpAddress address = LookupHost(host, token);
    const in6_addr v6 = address.V6();
    if ((address.IsV4() && address.V4() == 0) || (address.IsV6() && IN6_IS_ADDR_UNSPECIFIED(&v6)))
        address = IpAddress();
    if (address.IsNone() && !(token && token->IsCancelled()))
        out(kInvalidAddress);
    return address;
}

// What a hop line shows for the node that answered: 0.0.0.0 or :: for none.
std::string HopText(const IpAddress& answered, const IpAddress& destination)
{
    if (!answered.IsNone())
        return IpText(answered);
    return destination.IsV6() ? "::" : "0.0.0.0";
}

}  // namespace

EchoResult SendEcho(EchoProbe& probe, const IpAddress& destination, int timeToLive, std::uint32_t timeoutMs,
                    const CancelToken* token)
{
    const auto timeout = std::chrono::milliseconds(timeoutMs ? timeoutMs : kDefaultEchoTimeoutMs);
    const std::uint8_t ttl = std::uint8_t(timeToLive & 0xFF);
    std::array<std::uint8_t, kRequestSize> request;
    request.fill(kRequestByte);
    const EchoAnswer answer =
        probe.Send({destination, ttl ? ttl : std::uint8_t(255), request, std::chrono::steady_clock::now() + timeout},
                   token);
    return {answer.from, StatusCode(answer.status), answer.roundTripMs};
}

int PingHost(EchoProbe& probe, const IpAddress& destination, const CancelToken* token)
{
    // A router's report (unreachable, time exceeded) is an answer, but none of the host.
    const EchoResult result = SendEcho(probe, destination, kPingTtl, kDefaultEchoTimeoutMs, token);
    return result.status == 0 ? result.roundTripMs : -1;
}

const char* IcmpStatusName(std::uint32_t status)
{
    const auto row = std::ranges::find(kStatusTable, status, &StatusRow::code);
    return row == std::end(kStatusTable) ? "Status Unknown" : row->name;
}

void RunPing(const std::string& host, const OutputSink& out, EchoProbe& probe, const CancelToken* token)
{
    const IpAddress address = Resolve(host, out, token);
    if (address.IsNone() || (token && token->IsCancelled()))
        return;
    const std::string bracketed = Bracketed(address);
    out(bracketed);
    out("\r\n\r\n");
    out("\tPinging Host: ");
    out(bracketed);
    out("...\r\n");
    int ms = PingHost(probe, address, token);
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

void RunTrace(const std::string& host, const OutputSink& out, EchoProbe& probe, const CancelToken* token)
{
    const IpAddress address = Resolve(host, out, token);
    if (address.IsNone() || (token && token->IsCancelled()))
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
        const EchoResult result = SendEcho(probe, address, ttl, kTraceHopTimeoutMs, token);
        out(FormatHopLine(ttl, HopText(result.address, address).c_str(), result.roundTripMs,
                          IcmpStatusName(result.status)));
        if (!TraceGoesOn(ttl, result.roundTripMs >= 0, result.status))
            break;
    }
    out("\r\nTrace Complete");
}

std::string PingCommandLine(const std::string& host)
{
    return ShellCommand({"ping", "-c", "1", "-t", std::to_string(kPingTtl), "-W",
                         std::to_string(kDefaultEchoTimeoutMs / 1000)},
                        {CommandHost(host)});
}

std::string TraceCommandLine(const std::string& host)
{
    return ShellCommand({"traceroute", "-I", "-n", "-q", "1", "-w", std::to_string(kTraceHopTimeoutMs / 1000), "-m",
                         std::to_string(kTraceLastTtl)},
                        {CommandHost(host)});
}
