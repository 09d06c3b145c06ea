// Arbitrary bytes decoded as text, and encoded then decoded back, into buffers
// of exactly the sizes the codec asks for: both code paths agree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base64/Base64.h"
#include "base64/Base64Vector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string data(reinterpret_cast<const char*>(bytes), size);  // a zero ends the text
    std::string decoded[2], encoded[2];
    for (const bool vector : {false, true}) {
        EnableVectorBase64(vector);
        decoded[vector].resize(std::size_t(Base64DecodedSize(data.c_str())));
        decoded[vector].resize(std::size_t(Base64Decode(data.c_str(), decoded[vector].data(), std::int64_t(decoded[vector].size()))));
        encoded[vector].resize(std::size_t(Base64EncodedSize(size)));
        std::string back(size, '\0');
        if (size > 0 && (Base64Encode(bytes, std::int64_t(size), encoded[vector].data(), std::int64_t(encoded[vector].size())) != 1 ||
                         Base64Decode(encoded[vector].c_str(), back.data(), std::int64_t(size)) != std::int64_t(size) || back != data))
            std::abort();
    }
    if (decoded[0] != decoded[1] || encoded[0] != encoded[1])
        std::abort();
    return 0;
}
