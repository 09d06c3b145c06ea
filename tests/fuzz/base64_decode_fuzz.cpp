// The decoder on arbitrary text: both code paths agree with a plain
// character-by-character decoder, stay inside the buffer and honour the size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base64/Base64.h"
#include "base64/Base64Vector.h"

namespace {

// One character at a time, a group of 4 at a time, as the codec is specified.
std::string PlainDecode(const char* text)
{
    std::string out;
    char group[4];
    int held = 0;
    for (const char* p = text; *p; ++p) {
        if (!IsBase64Char(*p))
            continue;
        group[held++] = *p;
        if (held < 4)
            continue;
        unsigned char bytes[3];
        const int n = Base64DecodeQuantum(group, bytes);
        if (n < 0)
            break;
        out.append(reinterpret_cast<char*>(bytes), std::size_t(n));
        held = 0;
        if (n < 3)
            break;
    }
    return out;
}

std::string Decode(const char* text, std::int64_t size, bool vector)
{
    EnableVectorBase64(vector);
    // Exactly the size: AddressSanitizer sees any write past it.
    std::vector<unsigned char> out(std::size_t(size > 0 ? size : 1));
    const std::int64_t n = Base64Decode(text, out.data(), size);
    if (n < 0 || n > size)
        std::abort();
    if (size > 0 && Base64Decode(text, out.data(), size - 1) != -1)
        std::abort();
    return std::string(reinterpret_cast<char*>(out.data()), std::size_t(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated, may stop early
    const std::int64_t decodedSize = Base64DecodedSize(text.c_str());
    if (decodedSize < 0)
        std::abort();
    const std::string expected = PlainDecode(text.c_str());
    if (std::int64_t(expected.size()) > decodedSize)
        std::abort();
    if (Decode(text.c_str(), decodedSize, true) != expected || Decode(text.c_str(), decodedSize, false) != expected)
        std::abort();
    return 0;
}
