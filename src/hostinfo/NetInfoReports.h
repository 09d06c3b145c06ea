#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hostcfg/AdapterList.h"
#include "hostcfg/NetworkParams.h"
#include "hostcfg/ServicesFile.h"

// The three reports of the Net Info page, as text with tabs and CR LF line
// ends. complete is false when the report stopped at its failure line.
struct NetInfoReport {
    std::string text;
    bool complete = false;
    std::string commandLine;  // the shell commands that show the same facts
};

NetInfoReport IpConfigurationReport(const std::optional<NetworkParams>& params);
// readFigures gives the live figures of an adapter by its index.
NetInfoReport AdapterInformationReport(const std::optional<std::vector<AdapterRecord>>& adapters,
                                       const std::function<InterfaceFigures(unsigned)>& readFigures);
// The services of ports 0 to 9999, one line a port.
NetInfoReport PortServicesReport(const std::vector<ServiceEntry>& services);

// The same, read from this host.
NetInfoReport IpConfigurationReport();
NetInfoReport AdapterInformationReport();
NetInfoReport PortServicesReport();

// n in decimal with "," between groups of three digits from the right.
std::string GroupThousands(std::uint32_t n);
// A UTC time in the fixed 24-character English form "Thu Jan 01 00:00:00 1970",
// whatever the locale; a time before 1970 or past 9999 prints as 0 does.
std::string LeaseDateText(std::int64_t seconds);

// The names of the report's codes.
const char* AdapterTypeName(unsigned type);
const char* OperStatusName(unsigned status);
