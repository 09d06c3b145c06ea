// DecodeDnsName over any message, from any offset, into any area size: the
// input is the offset (2 bytes), the area size (2 bytes), then the message.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dns/DnsMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size <= 4)
        return 0;  // an empty message is a null one: -1
    const auto offset = std::uint16_t(data[0] << 8 | data[1]);
    const auto outSize = std::uint16_t((data[2] << 8 | data[3]) % 300);
    std::vector<std::uint8_t> message(data + 4, data + size);
    std::vector<char> out(outSize);

    const int length = DecodeDnsName(message.data(), message.size(), offset, outSize ? out.data() : nullptr, outSize);
    if (length < 0 || length > 255)
        std::abort();
    if (outSize > 0) {
        // Cut to outSize - 1 characters, the rest of the area cleared.
        const std::size_t copied = std::min<std::size_t>(std::size_t(length), outSize - 1u);
        for (std::size_t i = copied; i < outSize; ++i)
            if (out[i] != 0)
                std::abort();
    }
    if (DecodeDnsName(message.data(), message.size(), offset, nullptr, 0) != length)
        std::abort();
    return 0;
}
