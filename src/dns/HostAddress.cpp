#include "dns/HostAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

std::uint32_t LookupHostAddress(const char* text)
{
    if (!text)
        return 0;
    if (text[0] >= '0' && text[0] <= '9')
        return inet_addr(text);  // INADDR_NONE (all ones) for anything not dotted

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address instead of one per socket type
    addrinfo* list = nullptr;
    if (getaddrinfo(text, nullptr, &hints, &list) != 0 || !list)
        return 0;
    std::uint32_t address = 0;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(list);
    return address;
}

int AddressToText(std::uint32_t address, char* out, std::size_t size)
{
    if (!out || size == 0)
        return 0;
    char work[20];
    in_addr in{};
    in.s_addr = address;
    if (!inet_ntop(AF_INET, &in, work, sizeof work))
        return 0;
    std::size_t n = std::strlen(work);
    if (size < n + 1)
        return 0;
    std::memcpy(out, work, n + 1);
    return 1;
}
