// Server replies as they may arrive: every reply taken is whole lines, ends on
// a line whose code is followed by a blank (or is malformed), and consecutive
// scans consume the input without reading past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mail/SmtpDialogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        int code = 0;
        const std::size_t taken = ScanSmtpReply(rest, code);
        if (taken == 0)
            break;
        if (taken > rest.size() || rest[taken - 1] != '\n')
            std::abort();
        const std::string_view last = rest.substr(0, taken - 1).substr(rest.substr(0, taken - 1).rfind('\n') + 1);
        if (code != -1 && (code < 0 || code > 999 || last.size() < 4 || last[3] == '-'))
            std::abort();
        rest.remove_prefix(taken);
    }
    return 0;
}
