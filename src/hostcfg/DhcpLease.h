#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A DHCP lease as the adapter report shows it. Times are seconds since
// 1 January 1970, UTC; 0 where the lease file does not say.
struct DhcpLease {
    std::string address;                  // the address leased, dotted decimal; empty where the file names none
    std::string server = "0.0.0.0";
    std::int64_t obtained = 0;
    std::int64_t expires = 0;
};

// The last lease of interface in dhclient's lease file format:
//
//   lease {
//     interface "eth0";
//     fixed-address 192.0.2.10;
//     option dhcp-server-identifier 192.0.2.1;
//     option dhcp-lease-time 600;
//     expire 2 2026/12/08 10:00:00;        (or: expire epoch 1796724000;)
//   }
//
// A block naming no interface belongs to the one the file is for. Obtained is
// the expiry less the lease time. nullopt when no lease block is complete.
std::optional<DhcpLease> ParseDhclientLeases(std::string_view text, std::string_view interface);

// A lease in the KEY=value form of systemd-networkd and NetworkManager's own
// client (ADDRESS=, SERVER_ADDRESS=, LIFETIME= in seconds). The file keeps no time the
// lease was obtained, so the time it was written stands for it. nullopt when
// the text names no address.
std::optional<DhcpLease> ParseKeyValueLease(std::string_view text, std::int64_t written);

// Where the DHCP clients keep their leases; tests point these at their own.
// None of these directories is kept per network namespace. systemd-networkd
// and NetworkManager serve the namespace of the system's init (hostNamespace),
// so their leases count only there; where init's namespace cannot be read, a
// namespace named by `ip netns` (namedNamespaces) is taken as another one.
struct LeaseSources {
    const char* dhclientDir = "/var/lib/dhcp";
    const char* networkdDir = "/run/systemd/netif/leases";
    const char* networkManagerDir = "/var/lib/NetworkManager";
    const char* hostNamespace = "/proc/1/ns/net";
    const char* namedNamespaces = "/run/netns";
};

// The lease of the interface with this name and index from whichever client
// keeps one, or nullopt when none does. A lease counts only while the address
// it leased is one of the interface's own (addresses, dotted decimal): a file
// left behind by a client that no longer runs, or one written for an
// interface of the same name or index in another namespace, does not.
std::optional<DhcpLease> FindDhcpLease(const LeaseSources& sources, const std::string& interface, unsigned index,
                                       const std::vector<std::string>& addresses);
