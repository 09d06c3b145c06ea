// Message lines as they go on the wire: each fits 1000 bytes with its CR LF,
// and removing the doubled dots and the stuffing of split lines, and joining
// the soft breaks, gives the message back, with a CR LF at its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "mail/SmtpDialogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto Check = [](bool condition) {
        if (!condition)
            std::abort();
    };
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    std::string rebuilt;
    std::size_t position = 0;
    for (;;) {
        std::string line;
        const std::optional<std::size_t> next = NextMessageLine(message, position, line);
        if (!next) {
            Check(line.empty() && !MessageLinesFit(message));
            return 0;
        }
        if (*next == 0)
            break;
        Check(*next > position && *next <= message.size());
        Check(line.size() <= 1000 && line.ends_with("\r\n"));
        std::string_view text(line);
        text.remove_suffix(2);
        if (text.starts_with('.')) {
            text.remove_prefix(1);
            Check(text.starts_with('.'));
        }
        if (position > 0 && message[position - 1] != '\n' && text.starts_with(" From "))
            text.remove_prefix(1);  // the rest of a split line, stuffed as flowed text is
        rebuilt += text;
        const bool hardEnd = *next == message.size() || message.substr(0, *next).ends_with("\r\n");
        if (hardEnd)
            rebuilt += "\r\n";
        else
            Check(text.ends_with(' '));  // a soft break
        position = *next;
    }
    Check(MessageLinesFit(message));
    std::string expected(message);
    if (!expected.empty() && !expected.ends_with("\r\n"))
        expected += "\r\n";
    Check(rebuilt == expected);
    return 0;
}
