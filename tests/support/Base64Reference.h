// A plain Base64 codec, one group at a time, to hold the fast one against:
// lines of 76 characters each ended by CR LF, foreign characters skipped even
// inside a group, decoding ended by the first group with "=", an unpadded rest
// dropped. Also the fast codec wrapped so that its bounds are checked.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base64/Base64.h"

inline const std::string kRefAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline std::int64_t RefEncodedSize(std::int64_t n)
{
    const std::int64_t chars = 4 * ((n + 2) / 3);
    return chars + 2 * (chars / 76) + 1;
}

// The whole buffer of capacity bytes as the encoder leaves it: zeros after the text.
inline std::string RefEncode(const std::string& data, std::size_t capacity)
{
    std::string out;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, data.size() - i);
        unsigned group = 0;
        for (std::size_t b = 0; b < 3; ++b)
            group = group << 8 | (b < count ? unsigned(static_cast<unsigned char>(data[i + b])) : 0u);
        for (std::size_t c = 0; c < 4; ++c)
            out += c <= count ? kRefAlphabet[(group >> (18 - 6 * c)) & 63] : '=';
        if (count == 3 && (i + 3) % 57 == 0)
            out += "\r\n";
    }
    out.resize(capacity, '\0');
    return out;
}

inline bool RefIsChar(char c)
{
    return c == '=' || kRefAlphabet.find(c) != std::string::npos;
}

inline std::int64_t RefDecodedSize(const std::string& text)
{
    std::int64_t k = 0;
    for (std::size_t i = 0; i < text.size() && text[i] != '\0' && text[i] != '='; ++i)
        k += RefIsChar(text[i]);
    return 3 * k / 4;
}

// The text up to its first zero byte, as the decoder reads it.
inline std::string RefDecode(const std::string& text)
{
    std::string out, group;
    for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
        if (!RefIsChar(text[i]))
            continue;
        group += text[i];
        if (group.size() < 4)
            continue;
        const std::size_t taken = std::min<std::size_t>(group.find('='), 4);
        unsigned bits = 0;
        for (std::size_t c = 0; c < 4; ++c)
            bits = bits << 6 | (c < taken ? unsigned(kRefAlphabet.find(group[c])) : 0u);
        for (std::size_t b = 0; b + 1 < taken; ++b)
            out += char(bits >> (16 - 8 * b));
        if (taken < 4)
            break;
        group.clear();
    }
    return out;
}

// Base64Encode into capacity bytes first filled with "x"; nullopt when it refuses.
inline std::optional<std::string> EncodeInto(const std::string& data, std::int64_t capacity)
{
    std::string out(std::size_t(capacity), 'x');
    if (Base64Encode(data.data(), std::int64_t(data.size()), out.data(), capacity) != 1)
        return std::nullopt;
    return out;
}

// Base64Decode into a buffer of Base64DecodedSize bytes and a guard byte;
// nullopt when it writes past the size, returns a count outside it, or takes
// a buffer one byte smaller.
inline std::optional<std::string> DecodeInBounds(const std::string& text)
{
    const std::int64_t size = Base64DecodedSize(text.c_str());
    if (size < 0)
        return std::nullopt;
    std::vector<unsigned char> out(std::size_t(size) + 1, 0xAA);
    const std::int64_t n = Base64Decode(text.c_str(), out.data(), size);
    if (n < 0 || n > size || out[std::size_t(size)] != 0xAA ||
        (size > 0 && Base64Decode(text.c_str(), out.data(), size - 1) != -1))
        return std::nullopt;
    return std::string(out.begin(), out.begin() + n);
}
