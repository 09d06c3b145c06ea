// A services file of any content: one entry a port, ordered, a name and a protocol free of blanks, a line for each
// port under 10000.
#include <cstdlib>

#include "hostcfg/ServicesFile.h"
#include "hostinfo/NetInfoReports.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<ServiceEntry> entries = ParseServices(std::string_view(reinterpret_cast<const char*>(data), size));
    std::size_t lines = 3;  // the title, a blank line and the column heads
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ServiceEntry& e = entries[i];
        if ((i && entries[i - 1].port >= e.port) || e.name.empty() || e.protocol.empty() ||
            (e.name + e.protocol).find_first_of(" \t\r\n\v\f#") != std::string::npos)
            std::abort();
        lines += e.port < 10000;
    }
    const std::string report = PortServicesReport(entries).text;
    std::size_t found = 0;
    for (std::size_t at = 0; (at = report.find("\r\n", at)) != std::string::npos; at += 2)
        ++found;
    if (found != lines)
        std::abort();
    return 0;
}
