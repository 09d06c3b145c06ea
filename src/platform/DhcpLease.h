#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A DHCP lease as the adapter report shows it. Times are seconds since
// 1 January 1970, UTC; 0 where the lease file does not say.
struct DhcpLease {
    std::string server = "0.0.0.0";
    std::int64_t obtained = 0;
    std::int64_t expires = 0;
};

// The last lease of interface in dhclient's lease file format:
//
//   lease {
//     interface "eth0";
//     option dhcp-server-identifier 192.0.2.1;
//     option dhcp-lease-time 600;
//     expire 2 2026/12/08 10:00:00;        (or: expire epoch 1796724000;)
//   }
//
// A block naming no interface belongs to the one the file is for. Obtained is
// the expiry less the lease time. nullopt when no lease block is complete.
std::optional<DhcpLease> ParseDhclientLeases(std::string_view text, std::string_view interface);

// A lease in the KEY=value form of systemd-networkd and NetworkManager's own
// client (SERVER_ADDRESS=, LIFETIME= in seconds). The file keeps no time the
// lease was obtained, so the time it was written stands for it. nullopt when
// the text names no address.
std::optional<DhcpLease> ParseKeyValueLease(std::string_view text, std::int64_t written);

// Where the DHCP clients keep their leases; tests point these at their own.
struct LeaseSources {
    const char* dhclientDir = "/var/lib/dhcp";
    const char* networkdDir = "/run/systemd/netif/leases";
    const char* networkManagerDir = "/var/lib/NetworkManager";
};

// The lease of the interface with this name and index from whichever client
// keeps one, or nullopt when none does.
std::optional<DhcpLease> FindDhcpLease(const LeaseSources& sources, const std::string& interface, unsigned index);
