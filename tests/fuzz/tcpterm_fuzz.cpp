// Received bytes drive the TCP terminal's text handling: masking, the pane's
// bound, the port box and the text that is sent. Whatever arrives, offsets
// stay inside the text and a restarted pane is within its bound again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/ByteText.h"
#include "tcpterm/TerminalText.h"

namespace {

// The text with every CR that precedes an LF taken out.
std::string LfOnly(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
            out += s[i];
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    // Small bounds so that short inputs cross them.
    const std::size_t lineKeep = 1 + data[0] % 16, keep = 1 + data[2] % 64;
    const PaneBound bound{keep, keep + data[3] % 64, lineKeep, lineKeep + data[1] % 16};
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    const std::size_t split = data[0] % (text.size() + 1);
    const std::string_view all(text), shown = all.substr(0, split), incoming = all.substr(split);

    if (auto from = PaneRestartOffset(shown, incoming, bound)) {
        if (*from > text.size() || all.size() - *from > keep || PaneRestartOffset("", all.substr(*from), bound))
            std::abort();
    } else if (text.size() > bound.high) {
        std::abort();
    }
    if (NewestTextOffset(text, keep) > text.size())
        std::abort();
    (void)ReadPortNumber(text);

    std::string masked = text;
    MaskUnprintable(masked.data(), masked.size());
    for (char c : masked)
        if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r')
            std::abort();

    // Every line break goes as CR LF, and nothing but CRs is added.
    const std::string wire = WithCrLf(text);
    for (std::size_t i = 0; i < wire.size(); ++i)
        if (wire[i] == '\n' && (i == 0 || wire[i - 1] != '\r'))
            std::abort();
    if (LfOnly(wire) != LfOnly(text))
        std::abort();
    return 0;
}
