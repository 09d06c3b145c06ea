#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostcfg/DhcpLease.h"

// Adapter types as the adapter report numbers them.
enum : unsigned {
    kAdapterTypeOther = 1,
    kAdapterTypeEthernet = 6,
    kAdapterTypeTokenRing = 9,
    kAdapterTypeFddi = 15,
    kAdapterTypePpp = 23,
    kAdapterTypeLoopback = 24,
    kAdapterTypeSlip = 28,
};

// Operational states as the adapter report numbers them.
enum : unsigned {
    kOperStatusDisabled = 0,
    kOperStatusDisconnected = 2,
    kOperStatusConnecting = 3,
    kOperStatusConnected = 5,
    kOperStatusUnknown = 6,
};

// One network interface. Addresses are dotted IPv4 text; "0.0.0.0" stands for
// one the interface does not have.
struct AdapterRecord {
    unsigned index = 0;
    std::string name;                 // the interface name
    std::string description;                 // its driver's name, else the interface name
    std::array<std::uint8_t, 6> address{};   // the hardware address's first six bytes, zeros where shorter
    unsigned type = kAdapterTypeOther;
    std::vector<std::string> ipAddresses;    // every IPv4 address, in the kernel's order
    std::vector<std::string> ipv6Addresses;  // every IPv6 address, in the kernel's order, link-local with its zone
    std::string gateway = "0.0.0.0";         // of the interface's default route
    bool dhcpEnabled = false;
    std::string dhcpServer = "0.0.0.0";
    std::int64_t leaseObtained = 0;          // seconds since 1970, UTC
    std::int64_t leaseExpires = 0;
};

// Every interface in index order, or nullopt when the list cannot be read.
std::optional<std::vector<AdapterRecord>> ListAdapters(const LeaseSources& leases = {});

// The live figures of one interface.
struct InterfaceFigures {
    unsigned mtu = 0;
    std::uint32_t speed = 0;       // bits per second, saturated
    unsigned operStatus = kOperStatusUnknown;
    std::uint32_t inPackets = 0;   // the low 32 bits of the kernel's counters
    std::uint32_t outPackets = 0;
};

// The figures of the interface with this index; zeros and kOperStatusUnknown when
// there is no such interface (any more) or its figures cannot be read.
InterfaceFigures ReadInterfaceFigures(unsigned index);

// The mappings from what Linux reports.
unsigned AdapterTypeFromArphrd(unsigned arphrd);
// operstate as /sys/class/net/<if>/operstate spells it; flags the IFF_ ones.
unsigned OperStatusFromLinux(std::string_view operstate, unsigned flags);
// A link speed in Mbit/s as sysfs gives it (negative: unknown) in bits per second.
std::uint32_t SpeedBitsPerSecond(std::int64_t megabits);
// The default gateways by interface name from the text of /proc/net/route.
std::vector<std::pair<std::string, std::string>> DefaultGateways(std::string_view procNetRoute);
