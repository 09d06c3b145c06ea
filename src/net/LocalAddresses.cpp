#include "net/LocalAddresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

std::vector<LocalAddress> ListLocalAddresses(const ifaddrs* list)
{
    std::vector<LocalAddress> addresses;
    std::vector<LocalAddress> loopback;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name)
            continue;
        LocalAddress entry;
        entry.address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        // An address label ("eth0:1") names an address, not an interface.
        entry.interface = a->ifa_name;
        entry.interface.resize(std::min(entry.interface.find(':'), entry.interface.size()));
        ((a->ifa_flags & IFF_LOOPBACK) ? loopback : addresses).push_back(std::move(entry));
    }
    addresses.insert(addresses.end(), loopback.begin(), loopback.end());
    return addresses;
}

std::vector<LocalAddress> ListLocalAddresses()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    auto addresses = ListLocalAddresses(list);
    freeifaddrs(list);
    return addresses;
}

std::string InterfaceOfAddress(const std::vector<LocalAddress>& addresses, std::uint32_t address)
{
    for (const LocalAddress& a : addresses)
        if (a.address == address)
            return a.interface;
    return {};
}
