#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One entry of the services database: the official name and protocol.
struct ServiceEntry {
    std::uint16_t port = 0;
    std::string name;
    std::string protocol;
};

// The services database in one pass, in the format of /etc/services:
//
//   name  port/protocol  [aliases...]  [# comment]
//
// Keeps the first entry for each port in file order, whatever its protocol,
// which is what getservbyport(port, NULL) answers; the result is ordered by
// port. Lines without a name, a decimal port up to 65535 or a protocol are
// skipped.
std::vector<ServiceEntry> ParseServices(std::string_view text);

// The same read from a file; an unreadable file holds no entries.
std::vector<ServiceEntry> ReadServicesFile(const char* path = "/etc/services");
