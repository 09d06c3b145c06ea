#include "net/HostAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

#include "net/IpAddress.h"

std::uint32_t LookupHostAddress(const char* text)
{
    if (!text)
        return 0;
    if (text[0] >= '0' && text[0] <= '9')
        return inet_addr(text);  // INADDR_NONE (all ones) for anything not dotted
    return ResolveHostName(text);
}

std::uint32_t ResolveHostName(const char* name)
{
    return ResolveHostName(name, nullptr);
}

std::uint32_t ResolveHostName(const char* name, const CancelToken* token, std::chrono::steady_clock::time_point deadline)
{
    const std::vector<IpAddress> found = ResolveHostAddresses(name, AF_INET, token, deadline);
    return found.empty() ? 0 : found.front().V4();
}

std::uint32_t LookupHostAddress(const char* text, const CancelToken* token)
{
    if (!text || (text[0] >= '0' && text[0] <= '9'))
        return LookupHostAddress(text);
    return ResolveHostName(text, token);
}

bool LooksLikeAddress(std::string_view text)
{
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return (!text.empty() && digit(text.front()) && digit(text.back())) || ParseIpv6Literal(text).has_value();
}

bool AddressToText(std::uint32_t address, char* out, std::size_t size)
{
    if (!out || size == 0)
        return false;
    char work[20];
    in_addr in{};
    in.s_addr = address;
    if (!inet_ntop(AF_INET, &in, work, sizeof work))
        return false;
    std::size_t n = std::strlen(work);
    if (size < n + 1)
        return false;
    std::memcpy(out, work, n + 1);
    return true;
}
