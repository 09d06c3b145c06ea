// Received bytes through the TCP terminal's text handling (masking, the pane's bound, the port box):
// offsets stay inside the text and a restarted pane is within its bound again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/ByteText.h"
#include "tcpterm/TerminalText.h"

static void Check(bool condition) { if (!condition) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    // Small bounds so that short inputs cross them.
    const std::size_t lineKeep = 1 + data[0] % 16, keep = 1 + data[2] % 64;
    const PaneBound bound{keep, keep + data[3] % 64, lineKeep, lineKeep + data[1] % 16};
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    const std::string_view all(text);
    const std::size_t split = data[0] % (text.size() + 1);
    if (auto from = PaneRestartOffset(all.substr(0, split), all.substr(split), bound))
        Check(*from <= text.size() && all.size() - *from <= keep && !PaneRestartOffset("", all.substr(*from), bound));
    else
        Check(text.size() <= bound.high);
    Check(NewestTextOffset(text, keep) <= text.size());
    (void)ReadPortNumber(text);

    std::string masked = text;
    MaskUnprintable(masked.data(), masked.size());
    for (char c : masked)
        Check((c >= 0x20 && c <= 0x7E) || c == '\t' || c == '\n' || c == '\r');
    return 0;
}
