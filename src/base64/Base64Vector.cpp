#include "base64/Base64Vector.h"

#include <atomic>
#include <cstring>

#include "base64/Base64Alphabet.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#define QUORLIX_AVX2 __attribute__((target("avx2,popcnt")))

namespace {

inline void EncodeOneGroup(const unsigned char* src, char* out)
{
    out[0] = kBase64Alphabet[src[0] >> 2];
    out[1] = kBase64Alphabet[(src[0] & 3) << 4 | src[1] >> 4];
    out[2] = kBase64Alphabet[(src[1] & 15) << 2 | src[2] >> 6];
    out[3] = kBase64Alphabet[src[2] & 63];
}

// 24 bytes into 32 characters. Reads 28 bytes: the two 12-byte halves are
// loaded 16 bytes each, one per 128-bit lane.
QUORLIX_AVX2 inline __m256i EncodeBlock(const unsigned char* src)
{
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12));
    __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    // Each 32-bit lane gets the bytes b1 b0 b2 b1 of its group.
    in = _mm256_shuffle_epi8(in, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                                                  1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    // Move the four 6-bit fields into the four bytes of the lane.
    const __m256i ac = _mm256_mulhi_epu16(_mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00)),
                                          _mm256_set1_epi32(0x04000040));
    const __m256i bd = _mm256_mullo_epi16(_mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0)),
                                          _mm256_set1_epi32(0x01000010));
    const __m256i indices = _mm256_or_si256(ac, bd);
    // Class of each index: 13 for 0-25, 0 for 26-51, 1-12 for 52-63; the class
    // selects the offset that turns the index into its character.
    __m256i cls = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
    const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
    cls = _mm256_or_si256(cls, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    const __m256i offsets = _mm256_setr_epi8(  //
        'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '+' - 62, '/' - 63, 'A', 0, 0,  //
        'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '+' - 62, '/' - 63, 'A', 0, 0);
    return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, cls), indices);
}

// Per 32 characters: a byte is an alphabet character exactly when the table
// entry of its low nibble and that of its high nibble share no bit.
struct Classified {
    __m256i low;
    __m256i high;
    __m256i highNibbles;
};

QUORLIX_AVX2 inline Classified Classify(__m256i in)
{
    const __m256i lowTable = _mm256_setr_epi8(  //
        0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A,  //
        0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highTable = _mm256_setr_epi8(  //
        0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,  //
        0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    // The shuffles look at bits 0-3 and 7 of an index; 0x2F clears bit 7.
    const __m256i mask = _mm256_set1_epi8(0x2F);
    const __m256i highNibbles = _mm256_and_si256(_mm256_srli_epi32(in, 4), mask);
    const __m256i lowNibbles = _mm256_and_si256(in, mask);
    return {_mm256_shuffle_epi8(lowTable, lowNibbles), _mm256_shuffle_epi8(highTable, highNibbles), highNibbles};
}

// The 24 bytes of 32 characters, correct for each group of 4 that holds
// alphabet characters only.
QUORLIX_AVX2 inline __m256i DecodeBlock(__m256i in, __m256i highNibbles)
{
    // The offset from character to value depends on the high nibble, except
    // that "/" shares its nibble with "+".
    const __m256i offsets = _mm256_setr_epi8(  //
        0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,  //
        0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i slash = _mm256_cmpeq_epi8(in, _mm256_set1_epi8('/'));
    const __m256i values = _mm256_add_epi8(in, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(slash, highNibbles)));
    // Join four 6-bit values into 24 bits per lane, then squeeze out the 4th bytes.
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    __m256i packed = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    packed = _mm256_shuffle_epi8(packed, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,  //
                                                          2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

// A bit for each of the 32 bytes that is not an alphabet character.
QUORLIX_AVX2 inline unsigned ForeignMask(const Classified& c)
{
    const __m256i bad = _mm256_and_si256(c.low, c.high);
    return ~unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bad, _mm256_setzero_si256())));
}

bool ProcessorHasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return has;
}

std::atomic<bool> vectorEnabled{true};

}  // namespace

bool HaveVectorBase64()
{
    return vectorEnabled.load(std::memory_order_relaxed) && ProcessorHasAvx2();
}

void EnableVectorBase64(bool enable)
{
    vectorEnabled.store(enable, std::memory_order_relaxed);
}

QUORLIX_AVX2 void EncodeLinesVector(const unsigned char* src, std::int64_t lines, char* out)
{
    for (; lines > 0; --lines, src += 57, out += 78) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), EncodeBlock(src));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), EncodeBlock(src + 24));
        EncodeOneGroup(src + 48, out + 64);
        EncodeOneGroup(src + 51, out + 68);
        EncodeOneGroup(src + 54, out + 72);
        out[76] = '\r';
        out[77] = '\n';
    }
}

QUORLIX_AVX2 void DecodeBlocksVector(const unsigned char*& p, const unsigned char* end, unsigned char*& o)
{
    const unsigned char* in = p;
    unsigned char* out = o;
    while (end - in >= 32) {
        const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const Classified c = Classify(chars);
        if (_mm256_testz_si256(c.low, c.high)) {
            // Exactly 24 bytes: the caller's buffer may end right after them.
            const __m256i bytes = DecodeBlock(chars, c.highNibbles);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(bytes, 1));
            in += 32;
            out += 24;
            continue;
        }
        // The whole groups before the first other byte (a line break, most
        // often) are decoded here too; the caller takes over at that byte.
        const int groups = __builtin_ctz(ForeignMask(c)) / 4;
        if (groups > 0) {
            alignas(32) unsigned char bytes[32];
            _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), DecodeBlock(chars, c.highNibbles));
            std::memcpy(out, bytes, std::size_t(3 * groups));
            in += 4 * groups;
            out += 3 * groups;
        }
        break;
    }
    p = in;
    o = out;
}

QUORLIX_AVX2 std::int64_t CountAlphabetVector(const unsigned char* p, std::size_t n, bool* padFound)
{
    std::int64_t total = 0;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        unsigned good = ~ForeignMask(Classify(chars));
        const unsigned pad = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(chars, _mm256_set1_epi8('='))));
        if (pad) {
            *padFound = true;
            return total + __builtin_popcount(good & ((1u << __builtin_ctz(pad)) - 1));
        }
        total += __builtin_popcount(good);
    }
    for (; i < n; ++i) {
        if (p[i] == '=') {
            *padFound = true;
            return total;
        }
        total += IsBase64AlphabetChar(p[i]);
    }
    return total;
}

#else  // no vector kernels on this processor family

bool HaveVectorBase64()
{
    return false;
}

void EnableVectorBase64(bool) {}

void EncodeLinesVector(const unsigned char*, std::int64_t, char*) {}

void DecodeBlocksVector(const unsigned char*&, const unsigned char*, unsigned char*&) {}

std::int64_t CountAlphabetVector(const unsigned char*, std::size_t, bool*)
{
    return 0;
}

#endif
