// Untrusted bytes as server replies and as a message: a reply taken is whole lines with a code of three
// digits or -1; message lines fit 1000 bytes with their CR LF.
#include <cstdlib>

#include "mail/SmtpDialogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    int code = 0;
    for (std::string_view rest = bytes; const std::size_t taken = ScanSmtpReply(rest, code); rest.remove_prefix(taken))
        if (taken > rest.size() || rest[taken - 1] != '\n' || code < -1 || code > 999)
            std::abort();
    std::string line;
    for (std::optional<std::size_t> at = 0; (at = NextMessageLine(bytes, *at, line)).value_or(0) > 0; line.clear())
        if (line.size() > 1000 || !line.ends_with("\r\n"))
            std::abort();
    return 0;
}
