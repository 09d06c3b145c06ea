// Arbitrary bytes decoded as text, and encoded then decoded back, into buffers
// of exactly the sizes the codec asks for: both code paths agree, and the
// sanitizers see any write past them.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base64/Base64.h"
#include "base64/Base64Vector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string data(reinterpret_cast<const char*>(bytes), size);  // a zero ends the text
    std::vector<char> decoded[2], encoded[2];  // exactly the sizes asked for
    for (const bool vector : {false, true}) {
        EnableVectorBase64(vector);
        const std::int64_t need = Base64DecodedSize(data.c_str());
        decoded[vector].resize(std::size_t(need) + (need == 0));  // a buffer, though empty
        const std::int64_t n = Base64Decode(data.c_str(), decoded[vector].data(), need);
        if (n < 0 || n > need)
            std::abort();
        decoded[vector].resize(std::size_t(n));
        encoded[vector].resize(std::size_t(Base64EncodedSize(size)));
        std::string back(size, '\0');
        if (size > 0 && (Base64Encode(bytes, std::int64_t(size), encoded[vector].data(), std::int64_t(encoded[vector].size())) != 1 ||
                         Base64Decode(encoded[vector].data(), back.data(), std::int64_t(size)) != std::int64_t(size) || back != data))
            std::abort();
    }
    if (decoded[0] != decoded[1] || encoded[0] != encoded[1])
        std::abort();
    return 0;
}
