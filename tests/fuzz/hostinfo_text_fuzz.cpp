// Any text as the line under the caret at Kill Connection..., as a services file and as a lease file of either
// format: a line that reads back gives a connection whose printed line reads back the same; the services are one
// entry a port, ordered, names and protocols free of blanks, with a report line for each port under 10000; a lease
// found has a dotted server address and dates of 24 characters.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>

#include "hostcfg/DhcpLease.h"
#include "hostcfg/ServicesFile.h"
#include "hostinfo/ConnectionTable.h"
#include "hostinfo/NetInfoReports.h"

static void Check(bool ok)
{
    if (!ok)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TcpRow row, again;
    if (ReadConnectionLine(text, &row)) {
        Check(row.state == 12 && row.localPort <= 0xFFFF && row.remotePort <= 0xFFFF);
        row.state = 5;
        const std::vector<TcpRow> rows{row};
        const std::string table = ConnectionTableText(&rows, nullptr), line = table.substr(2 * 69, table.find("\r\n", 2 * 69) - 2 * 69);
        Check(ReadConnectionLine(line, &again) && again.localAddr == row.localAddr && again.localPort == row.localPort &&
              again.remoteAddr == row.remoteAddr && again.remotePort == row.remotePort);
    }
    const std::vector<ServiceEntry> entries = ParseServices(text);
    long lines = 3;  // the title, a blank line and the column heads
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ServiceEntry& e = entries[i];
        Check((!i || entries[i - 1].port < e.port) && !e.name.empty() && !e.protocol.empty() &&
              (e.name + e.protocol).find_first_of(" \t\r\n\v\f#") == std::string::npos);
        lines += e.port < 10000;
    }
    const std::string report = PortServicesReport(entries).text;
    Check(std::count(report.begin(), report.end(), '\n') == lines);
    in_addr in{};
    for (const auto& lease : {ParseDhclientLeases(text, "eth0"), ParseDhclientLeases(text, ""), ParseKeyValueLease(text, 1796724000)})
        Check(!lease || (inet_pton(AF_INET, lease->server.c_str(), &in) == 1 && LeaseDateText(lease->obtained).size() == 24 &&
                         LeaseDateText(lease->expires).size() == 24));
    return 0;
}
