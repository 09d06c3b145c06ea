// The privilege helper's parsers of what the other side sends: whatever a parser accepts formats back to the
// same bytes, and the session messages are read within their bounds.
#include <cstdlib>
#include <vector>

#include "privilege/NetcapRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> rest;
    const auto request = ParseNetcapRequest(text);
    const auto ask = ParseNetcapEchoAsk(data, size, rest);
    if ((request && FormatNetcapRequest(*request) != text) ||
        (ask && FormatNetcapEchoAsk(*ask, rest.data(), rest.size()) != std::vector<std::uint8_t>(data, data + size)))
        std::abort();
    ParseNetcapReply(text);
    ParseNetcapEchoAnswer(data, size, rest);
    return 0;
}
