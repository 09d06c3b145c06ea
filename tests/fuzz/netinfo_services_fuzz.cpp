// A services file of any content: one entry a port, ordered, each with a name
// and a protocol free of blanks, and a report line for each port under 10000.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hostinfo/NetInfoReports.h"
#include "hostcfg/ServicesFile.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool HasBlank(std::string_view word)
{
    return word.find_first_of(" \t\r\n\v\f#") != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<ServiceEntry> entries = ParseServices(text);
    std::size_t shown = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Check(i == 0 || entries[i - 1].port < entries[i].port);
        Check(!entries[i].name.empty() && !entries[i].protocol.empty());
        Check(!HasBlank(entries[i].name) && !HasBlank(entries[i].protocol));
        shown += entries[i].port < 10000;
    }
    const std::string report = PortServicesReport(entries).text;
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = report.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    Check(lines == shown + 3);  // the title, a blank line and the column heads
    return 0;
}
