// Encode then decode arbitrary bytes: both code paths write the same text in
// lines of 76 characters and CR LF, zero-fill the buffer, and decode it back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base64/Base64.h"
#include "base64/Base64Vector.h"

namespace {

std::vector<char> Encode(const std::uint8_t* data, std::size_t size, std::int64_t capacity, bool vector)
{
    EnableVectorBase64(vector);
    std::vector<char> out(std::size_t(capacity), 'x');
    if (Base64Encode(data, std::int64_t(size), out.data(), capacity) != 1)
        std::abort();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::int64_t needed = Base64EncodedSize(size);
    const std::int64_t capacity = needed + std::int64_t(data[0] % 4);
    const std::vector<char> text = Encode(data, size, capacity, true);
    if (Encode(data, size, capacity, false) != text)
        std::abort();

    const std::size_t length = std::strlen(text.data());
    for (std::size_t i = length; i < text.size(); ++i)
        if (text[i] != '\0')
            std::abort();
    // Line breaks after every 76 characters, nowhere else.
    for (std::size_t i = 0; i < length; ++i) {
        const bool breakHere = i % 78 == 76 || i % 78 == 77;
        if (breakHere != (text[i] == '\r' || text[i] == '\n'))
            std::abort();
    }
    if (Base64EncodedSize(size) != needed || std::int64_t(length) >= needed)
        std::abort();

    std::vector<unsigned char> back(size);
    if (Base64Decode(text.data(), back.data(), std::int64_t(size)) != std::int64_t(size) ||
        std::memcmp(back.data(), data, size) != 0)
        std::abort();
    return 0;
}
