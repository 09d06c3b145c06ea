#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/IpAddress.h"

struct ifaddrs;

// One network interface as getifaddrs lists it.
struct NetInterface {
    unsigned index = 0;                     // 0 when the list has no link entry for it
    std::string name;                       // an address label such as "eth0:1" is cut to "eth0"
    unsigned flags = 0;                     // IFF_*
    unsigned hardwareType = 0;              // ARPHRD_*
    std::vector<std::uint8_t> hardwareAddress;
    std::vector<std::uint32_t> ipv4;        // network byte order, in the system's order
    std::vector<IpAddress> ipv6;            // in the system's order, a link-local one with its zone
};

// The host's interfaces in index order, read once; nullopt when the system
// cannot list them.
std::optional<std::vector<NetInterface>> ListInterfaces();

// The same, from a list the caller got from getifaddrs (or built, for tests):
// interfaces in the order they first appear, sorted by index.
std::vector<NetInterface> ListInterfaces(const ifaddrs* list);

// One address of this host and the interface that owns it.
struct LocalAddress {
    IpAddress address;
    std::string interface;
};

// Every address of the interfaces: the IPv4 ones, then the IPv6 ones; of
// each family those of non-loopback interfaces first, each group in the
// interfaces' order.
std::vector<LocalAddress> LocalAddressesOf(const std::vector<NetInterface>& interfaces);

// The same for the host's interfaces; empty when the system gives none.
std::vector<LocalAddress> ListLocalAddresses();

// The interface owning address in addresses (a link-local one in its zone);
// empty when none does.
std::string InterfaceOfAddress(const std::vector<LocalAddress>& addresses, const IpAddress& address);
