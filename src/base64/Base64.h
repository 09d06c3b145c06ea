#pragma once

#include <cstdint>

// Base64 of RFC 2045 (alphabet and "=" padding as in RFC 4648 section 4) over
// caller-owned buffers. The encoder writes lines of 76 characters, each
// complete line followed by CR LF, the form mail bodies need:
//
//   57 input bytes -> 19 groups of 3 -> 76 characters + CR LF
//   last 1 or 2 bytes -> "xx==" or "xxx=", no CR LF after a padded group
//
// The decoder skips every character outside the alphabet and "=" (line
// breaks, spaces, bytes 128-255), even inside a group of four, and stops at
// the first group that holds a pad character. An unpadded remainder of 1 to 3
// characters at the end is not decoded.
//
// Sizes are 64-bit so that inputs of any size a process can map are counted
// without overflow. No state: every function is safe on any thread.

// Size in bytes of the buffer Base64Encode needs for n input bytes, the
// terminating zero included: the encoded characters, 2 for every complete
// 76-character line, and 1. When n is one or two short of a multiple of 57
// this counts a line break that is not written (those bytes stay zero).
// -1 when the size cannot be represented.
std::int64_t Base64EncodedSize(std::uint64_t n);

// Encodes n bytes of data into out, zero-filling the rest of its capacity
// bytes (which terminates the text). 1 on success; 0, with out untouched, when
// data or out is null, n < 1 or capacity < Base64EncodedSize(n).
int Base64Encode(const void* data, std::int64_t n, char* out, std::int64_t capacity);

// Writes the 4 characters of one group of count (1 to 3) bytes, padded with
// "=" when count < 3. Nothing is written for a count below 1; a count above
// 3 encodes 3 bytes.
void Base64EncodeQuantum(const unsigned char* src, int count, char* out);

// True for the 64 alphabet characters and "="; false for every other byte.
bool IsBase64Char(char c);

// An upper bound of the bytes Base64Decode makes of text (zero-terminated):
// 3/4 of the alphabet characters before the first "=", rounded down. Exact for
// padded text and whenever that count is a multiple of 4. -1 for null text.
std::int64_t Base64DecodedSize(const char* text);

// Decodes one group of 4 characters: the characters before the first "="
// count. Returns the bytes written: 3, 2 or 1 for 4, 3 or 2 such characters,
// 0 for one; -1 (nothing written) when in[0] is "=".
int Base64DecodeQuantum(const char* in, unsigned char* out);

// Decodes text (zero-terminated) into out; returns the bytes written (no
// terminator), or -1, with nothing written, when text or out is null or
// capacity < Base64DecodedSize(text). Never writes more than that size.
std::int64_t Base64Decode(const char* text, void* out, std::int64_t capacity);
