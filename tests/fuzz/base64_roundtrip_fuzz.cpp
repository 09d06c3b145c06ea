// Encode then decode arbitrary bytes: both code paths write the reference's
// text, in lines of 76 characters and CR LF, zero-fill the buffer, and decode
// it back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../support/Base64Reference.h"
#include "base64/Base64.h"
#include "base64/Base64Vector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string data(reinterpret_cast<const char*>(bytes), size);
    const std::int64_t needed = Base64EncodedSize(size);
    if (needed != RefEncodedSize(std::int64_t(size)))
        std::abort();
    const std::size_t capacity = std::size_t(needed) + bytes[0] % 4;
    const std::string expected = RefEncode(data, capacity);
    for (bool vector : {true, false}) {
        EnableVectorBase64(vector);
        const auto text = EncodeInto(data, std::int64_t(capacity));
        if (text != expected || DecodeInBounds(text->c_str()) != data)
            std::abort();
    }
    return 0;
}
