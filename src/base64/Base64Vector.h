#pragma once

#include <cstddef>
#include <cstdint>

// AVX2 kernels for the bulk of the codec's work, used only where the processor
// has AVX2 (HaveVectorBase64); the portable code in Base64.cpp handles the
// rest and every edge. The techniques are W. Mula and D. Lemire's ("Faster
// Base64 Encoding and Decoding Using AVX2 Instructions", 2018).

// Whether the kernels are in use: where the processor has AVX2, unless
// turned off. Tests and fuzzers turn them off to compare the portable code.
bool HaveVectorBase64();
void EnableVectorBase64(bool enable);

// Encodes lines whole lines of 57 bytes, each into 76 characters and CR LF.
void EncodeLinesVector(const unsigned char* src, std::int64_t lines, char* out);

// Decodes blocks of 32 alphabet characters into 24 bytes each, advancing p and
// o, until fewer than 32 characters are left or a block holds any other byte;
// then the whole groups of 4 before that byte. Writes only the bytes decoded.
void DecodeBlocksVector(const unsigned char*& p, const unsigned char* end, unsigned char*& o);

// The number of alphabet characters ("A"-"Z", "a"-"z", "0"-"9", "+", "/")
// among n bytes, up to the first "=" if there is one (then *padFound is set).
std::int64_t CountAlphabetVector(const unsigned char* p, std::size_t n, bool* padFound);
