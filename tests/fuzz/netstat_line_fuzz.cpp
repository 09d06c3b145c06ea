// Whatever line holds the caret when Kill Connection... is pressed: a line that
// reads back gives a connection whose printed line reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "hostinfo/ConnectionTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TcpRow row;
    if (!ReadConnectionLine(std::string_view(reinterpret_cast<const char*>(data), size), &row))
        return 0;
    if (row.state != 12 || row.localPort > 0xFFFF || row.remotePort > 0xFFFF)
        std::abort();
    row.state = 5;
    const std::vector<TcpRow> rows{row};
    std::string line = ConnectionTableText(&rows, nullptr).substr(2 * 69);  // past the headings
    line.resize(line.size() - 2);
    TcpRow again;
    if (!ReadConnectionLine(line, &again) || again.localAddr != row.localAddr || again.localPort != row.localPort ||
        again.remoteAddr != row.remoteAddr || again.remotePort != row.remotePort)
        std::abort();
    return 0;
}
