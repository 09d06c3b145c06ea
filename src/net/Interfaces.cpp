#include "net/Interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <linux/if_packet.h>

#include <algorithm>

std::vector<NetInterface> ListInterfaces(const ifaddrs* list)
{
    std::vector<NetInterface> interfaces;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || !a->ifa_name)
            continue;
        const int family = a->ifa_addr->sa_family;
        if (family != AF_PACKET && family != AF_INET && family != AF_INET6)
            continue;
        // An address label ("eth0:1") names an address, not an interface.
        std::string name = a->ifa_name;
        name.resize(std::min(name.find(':'), name.size()));
        auto it = std::find_if(interfaces.begin(), interfaces.end(), [&](const auto& i) { return i.name == name; });
        if (it == interfaces.end()) {
            interfaces.push_back({.name = std::move(name), .flags = a->ifa_flags});
            it = std::prev(interfaces.end());
        }
        if (family == AF_INET) {
            it->ipv4.push_back(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
            continue;
        }
        if (family == AF_INET6) {
            it->ipv6.push_back(IpAddress::FromSockaddr(a->ifa_addr, sizeof(sockaddr_in6)));
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        it->index = unsigned(link->sll_ifindex);
        it->hardwareType = link->sll_hatype;
        it->hardwareAddress.assign(link->sll_addr, link->sll_addr + std::min<std::size_t>(link->sll_halen, 8));
    }
    std::stable_sort(interfaces.begin(), interfaces.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    return interfaces;
}

std::optional<std::vector<NetInterface>> ListInterfaces()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    auto interfaces = ListInterfaces(list);
    freeifaddrs(list);
    return interfaces;
}

std::vector<LocalAddress> LocalAddressesOf(const std::vector<NetInterface>& interfaces)
{
    std::vector<LocalAddress> addresses;
    for (const bool ipv6 : {false, true})
        for (const bool loopback : {false, true})
            for (const NetInterface& i : interfaces) {
                if (bool(i.flags & IFF_LOOPBACK) != loopback)
                    continue;
                if (!ipv6)
                    for (const std::uint32_t address : i.ipv4)
                        addresses.push_back({IpAddress::V4(address), i.name});
                else
                    for (const IpAddress& address : i.ipv6)
                        addresses.push_back({address, i.name});
            }
    return addresses;
}

std::vector<LocalAddress> ListLocalAddresses()
{
    return LocalAddressesOf(ListInterfaces().value_or(std::vector<NetInterface>{}));
}

std::string InterfaceOfAddress(const std::vector<LocalAddress>& addresses, const IpAddress& address)
{
    for (const LocalAddress& a : addresses)
        if (a.address == address)
            return a.interface;
    return {};
}
