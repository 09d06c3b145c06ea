#include "net/HostAddress.h"

#include <arpa/inet.h>

#include <cstring>

#include "net/IpAddress.h"

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
