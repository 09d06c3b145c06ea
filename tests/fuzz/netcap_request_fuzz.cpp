// The privilege helper's request parser: whatever it accepts formats back to
// the same request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "netcap/NetcapRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto request = ParseNetcapRequest(text)) {
        if (FormatNetcapRequest(*request) != text)
            std::abort();
    }
    ParseNetcapReply(text);
    return 0;
}
