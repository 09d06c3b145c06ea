#include "net/ByteText.h"

#include <algorithm>
#include <array>
#include <cstdint>

bool IsValidUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        std::uint8_t c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        p += extra + 1;
    }
    return true;
}

int ReadPortNumber(std::string_view text)
{
    if (text.empty())
        return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = std::min(value * 10 + (c - '0'), 999999);
    }
    return value;
}

namespace {

// Each byte as it is shown: itself where printable, TAB, LF or CR, else '.'.
// A table keeps the loop free of branches, which a flood notices.
constexpr auto kShown = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[std::size_t(c)] = (c >= 0x20 && c <= 0x7E) || c == '\t' || c == '\n' || c == '\r' ? c : '.';
    return table;
}();

}  // namespace

void MaskUnprintable(char* bytes, std::size_t size)
{
    auto* p = reinterpret_cast<unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i)
        p[i] = kShown[p[i]];
}
