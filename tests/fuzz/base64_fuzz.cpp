// Arbitrary bytes decoded as text (a zero ends it), and encoded then decoded back, into buffers of exactly
// the sizes the codec asks for: both code paths agree, and the sanitizers see any write past them.
#include <cstdlib>
#include <string>
#include <vector>

#include "base64/Base64.h"
#include "base64/Base64Vector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string data(reinterpret_cast<const char*>(bytes), size);
    std::string out[2];  // each path's decoded text and encoding
    for (const bool vector : {false, true}) {
        EnableVectorBase64(vector);
        const std::int64_t need = Base64DecodedSize(data.c_str());
        std::vector<char> decoded(std::size_t(need) + (need == 0)), encoded(std::size_t(Base64EncodedSize(size)));  // exact
        std::string back(size, '\0');
        const std::int64_t n = Base64Decode(data.c_str(), decoded.data(), need);
        if (n < 0 || n > need || (size > 0 && (Base64Encode(bytes, std::int64_t(size), encoded.data(), std::int64_t(encoded.size())) != 1 ||
                                               Base64Decode(encoded.data(), back.data(), std::int64_t(size)) != std::int64_t(size) || back != data)))
            std::abort();
        out[vector] = std::string(decoded.data(), std::size_t(n)) + '|' + std::string(encoded.begin(), encoded.end());
    }
    if (out[0] != out[1])
        std::abort();
    return 0;
}
