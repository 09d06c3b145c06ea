// The decoder on arbitrary text: both code paths agree with a plain reference
// decoder, stay inside the buffer and honour the size.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../support/Base64Reference.h"
#include "base64/Base64.h"
#include "base64/Base64Vector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);  // may hold a zero, which ends it
    if (Base64DecodedSize(text.c_str()) != RefDecodedSize(text))
        std::abort();
    const std::string expected = RefDecode(text);
    for (bool vector : {true, false}) {
        EnableVectorBase64(vector);
        if (DecodeInBounds(text) != expected)
            std::abort();
    }
    return 0;
}
