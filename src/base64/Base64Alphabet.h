#pragma once

// What the portable codec (Base64.cpp) and its vector kernels (Base64Vector.cpp)
// both need to know of the alphabet of RFC 4648, section 4.

inline constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 1 for an alphabet character ("=" is none), else 0. Defined here so that it
// inlines into the counting loops: bitwise rather than logical ORs leave them
// free of branches, so that they vectorise.
inline unsigned IsBase64AlphabetChar(unsigned char c)
{
    return unsigned((unsigned char)(c - 'A') < 26) | unsigned((unsigned char)(c - 'a') < 26) |
           unsigned((unsigned char)(c - '0') < 10) | unsigned(c == '+') | unsigned(c == '/');
}
