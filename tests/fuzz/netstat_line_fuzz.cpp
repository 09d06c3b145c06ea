// Whatever line holds the caret when Kill Connection... is pressed: a line that
// reads back must give a connection that prints as a line reading back the
// same. The same bytes as a socket-diagnostics reply must end in a table or a
// refusal, never a read past the end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hostinfo/ConnectionTable.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

class BytesSource : public SockDiagSource {
public:
    explicit BytesSource(std::string_view bytes) : bytes_(bytes) {}
    int Dump(std::uint8_t, std::uint8_t, std::uint32_t, const Chunk& chunk) override
    {
        chunk(bytes_);
        return 0;
    }
    bool ProcTable(const char*, std::string* text) override
    {
        text->assign(bytes_);
        return true;
    }

private:
    std::string_view bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TcpRow row;
    if (ReadConnectionLine(bytes, &row)) {
        Check(row.state == 12 && row.localPort <= 0xFFFF && row.remotePort <= 0xFFFF);
        row.state = 5;
        const std::vector<TcpRow> rows{row};
        const std::string text = ConnectionTableText(&rows, nullptr);
        const size_t start = text.find("TCP  ");
        const std::string line = text.substr(start, text.find("\r\n", start) - start);
        TcpRow again;
        Check(ReadConnectionLine(line, &again));
        Check(again.localAddr == row.localAddr && again.localPort == row.localPort &&
              again.remoteAddr == row.remoteAddr && again.remotePort == row.remotePort);
    }
    BytesSource source(bytes);
    std::vector<TcpRow> tcp;
    GetTcpTable(&tcp, source);
    return 0;
}
