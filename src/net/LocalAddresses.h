#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ifaddrs;

// One IPv4 address of this host and the interface that owns it.
struct LocalAddress {
    std::uint32_t address;  // network byte order
    std::string interface;  // the interface's own name: a label such as "eth0:1" cut to "eth0"
};

// Every IPv4 address of the host's interfaces (getifaddrs), those of
// non-loopback interfaces first, each group in the system's order. Empty when
// the system gives none.
std::vector<LocalAddress> ListLocalAddresses();

// The same, from a list the caller got from getifaddrs (or built, for tests).
std::vector<LocalAddress> ListLocalAddresses(const ifaddrs* list);

// The interface owning address in addresses; empty when none does.
std::string InterfaceOfAddress(const std::vector<LocalAddress>& addresses, std::uint32_t address);
