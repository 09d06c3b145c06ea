#include "icmp/IcmpEcho.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/IcmpLibrary.h"
#include "privilege/NetcapRequest.h"

namespace {

constexpr std::size_t kRequestSize = 32;
constexpr std::uint8_t kRequestByte = 0x45;  // 'E'
constexpr std::uint32_t kReplyBufferSize = 2000;
static_assert(kRequestSize <= kNetcapMaxEchoData, "the privilege helper would refuse the pages' echoes");

struct StatusName {
    std::uint32_t status;
    const char* name;
};

constexpr StatusName kStatusNames[] = {
    {0, "SUCCESS"},
    {11001, "BUF_TOO_SMALL"},
    {11002, "DEST_NET_UNREACHABLE"},
    {11003, "DEST_HOST_UNREACHABLE"},
    {11004, "DEST_PROT_UNREACHABLE"},
    {11005, "DEST_PORT_UNREACHABLE"},
    {11006, "NO_RESOURCES"},
    {11007, "BAD_OPTION"},
    {11008, "HW_ERROR"},
    {11009, "PACKET_TOO_BIG"},
    {11010, "REQ_TIMED_OUT"},
    {11011, "BAD_REQ"},
    {11012, "BAD_ROUTE"},
    {11013, "TTL_EXPIRED_TRANSIT"},
    {11014, "TTL_EXPIRED_REASSEM"},
    {11015, "PARAM_PROBLEM"},
    {11016, "SOURCE_QUENCH"},
    {11017, "OPTION_TOO_BIG"},
    {11018, "BAD_DESTINATION"},
    {11019, "ADDR_DELETED"},
    {11020, "SPEC_MTU_CHANGE"},
    {11021, "MTU_CHANGE"},
    {11022, "UNLOAD"},
    {11023, "ADDR_ADDED"},
    {11050, "GENERAL_FAILURE"},
    {11255, "PENDING"},
};

// SendEcho reads the first record as three 32-bit fields.
static_assert(offsetof(IcmpEchoReply, Address) == 0 && offsetof(IcmpEchoReply, Status) == 4 &&
              offsetof(IcmpEchoReply, RoundTripTime) == 8);

}  // namespace

int SendEcho(std::uint32_t destination, int timeToLive, std::uint32_t timeoutMs, EchoResult* result)
{
    if (!result)
        return 0;
    IcmpHandle handle = GuardedIcmpCreateFile();
    if (handle == kInvalidIcmpHandle) {
        *result = EchoResult{0, kIpGeneralFailure, -1};
        return 0;
    }

    IpOptionInformation options{};
    options.Ttl = std::uint8_t(timeToLive & 0xFF);
    if (options.Ttl == 0)
        options.Ttl = 255;
    std::uint8_t request[kRequestSize];
    std::memset(request, kRequestByte, sizeof request);
    std::vector<std::uint8_t> reply(kReplyBufferSize, 0);

    std::uint32_t records = GuardedIcmpSendEcho(handle, destination, request, kRequestSize, &options, reply.data(),
                                                kReplyBufferSize, timeoutMs ? timeoutMs : kDefaultEchoTimeoutMs);

    // The first record's first three fields, whatever the call returned: the
    // buffer was zero-filled, so what it did not write reads 0.
    std::uint32_t fields[3];
    std::memcpy(fields, reply.data(), sizeof fields);
    result->address = fields[0];
    result->status = fields[1];
    result->roundTripMs = std::int32_t(fields[2]);
    if (records != 1)
        result->roundTripMs = -1;

    GuardedIcmpCloseHandle(handle);
    return records == 1 ? 1 : 0;
}

int PingHost(std::uint32_t destination)
{
    EchoResult result{};
    // A router's report (unreachable, time exceeded) is a reply, but no answer of the host.
    if (SendEcho(destination, kPingTtl, kDefaultEchoTimeoutMs, &result) == 1 && result.status == 0)
        return result.roundTripMs;
    return -1;
}

void IcmpStatusName(std::uint32_t status, char* buffer, std::size_t size)
{
    if (!buffer || size == 0)
        return;
    const char* name = "Status Unknown";
    for (const auto& entry : kStatusNames) {
        if (entry.status == status)
            name = entry.name;
    }
    std::size_t n = std::min(std::strlen(name), size - 1);
    std::memcpy(buffer, name, n);
    buffer[n] = '\0';
}
