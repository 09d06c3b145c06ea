// Any line under the caret at Kill Connection...: one that reads back gives a connection whose line reads back the same.
#include <cstdlib>
#include <string>

#include "hostinfo/ConnectionTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TcpRow row, again;
    if (!ReadConnectionLine(std::string_view(reinterpret_cast<const char*>(data), size), &row))
        return 0;
    if (row.state != 12 || row.localPort > 0xFFFF || row.remotePort > 0xFFFF)
        std::abort();
    row.state = 5;
    const std::vector<TcpRow> rows{row};
    const std::string text = ConnectionTableText(&rows, nullptr), line = text.substr(2 * 69, text.find("\r\n", 2 * 69) - 2 * 69);
    if (!ReadConnectionLine(line, &again) || again.localAddr != row.localAddr || again.localPort != row.localPort ||
        again.remoteAddr != row.remoteAddr || again.remotePort != row.remotePort)
        std::abort();
    return 0;
}
