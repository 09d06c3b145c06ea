#pragma once

// What a flooding TCP peer sends in tests and benchmarks: a text line and
// every byte value, repeated up to size bytes.
#include <cstddef>
#include <string>

inline std::string FloodText(std::size_t size)
{
    std::string unit = "The TCP Socket page shows what the peer sends, 0123456789.\r\n";
    for (int b = 0; b < 256; ++b)
        unit += char(b);
    std::string text;
    while (text.size() < size)
        text += unit;
    text.resize(size);
    return text;
}
