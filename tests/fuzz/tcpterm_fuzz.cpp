// Received bytes drive the TCP terminal's text handling: masking, the pane's
// bound and the port box. Whatever arrives, offsets stay inside the text and
// a restarted pane is within its bound again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tcpterm/TerminalText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    // Small bounds so that short inputs cross them.
    const std::size_t lineKeep = 1 + data[0] % 16;
    const std::size_t lineHigh = lineKeep + data[1] % 16;
    const std::size_t keep = 1 + data[2] % 64;
    const std::size_t high = keep + data[3] % 64;
    const PaneBound bound{keep, high, lineKeep, lineHigh};
    std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    const std::size_t split = text.empty() ? 0 : data[0] % (text.size() + 1);
    const std::string_view shown = std::string_view(text).substr(0, split);
    const std::string_view incoming = std::string_view(text).substr(split);

    if (auto from = PaneRestartOffset(shown, incoming, bound)) {
        if (*from > text.size())
            std::abort();
        const std::string_view kept = std::string_view(text).substr(*from);
        if (kept.size() > keep || PaneRestartOffset("", kept, bound))
            std::abort();
    } else if (text.size() > high) {
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
    auto lfOnly = [](std::string_view s) {
        std::string out;
        for (std::size_t i = 0; i < s.size(); ++i)
            if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
                out += s[i];
        return out;
    };
    for (std::size_t i = 0; i < wire.size(); ++i)
        if (wire[i] == '\n' && (i == 0 || wire[i - 1] != '\r'))
            std::abort();
    if (lfOnly(wire) != lfOnly(text))
        std::abort();
    return 0;
}
