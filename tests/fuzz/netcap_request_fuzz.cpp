// The privilege helper's parsers of what the other side sends: whatever the
// request parser accepts formats back to the same request, and the session
// messages are read within their bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "privilege/NetcapRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto request = ParseNetcapRequest(text)) {
        if (FormatNetcapRequest(*request) != text)
            std::abort();
    }
    ParseNetcapReply(text);
    std::vector<std::uint8_t> rest;
    if (auto ask = ParseNetcapEchoAsk(data, size, rest)) {
        if (FormatNetcapEchoAsk(*ask, rest.data(), rest.size()) != std::vector<std::uint8_t>(data, data + size))
            std::abort();
    }
    ParseNetcapEchoAnswer(data, size, rest);
    return 0;
}
