#include "base64/Base64.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "base64/Base64Alphabet.h"
#include "base64/Base64Vector.h"

namespace {

constexpr char kPad = '=';
constexpr std::int64_t kLineBytes = 57;  // 19 groups of 3 bytes
constexpr std::int64_t kLineChars = 76;

// Two output characters for every 12-bit value: one lookup per half group.
constexpr auto kPairs = [] {
    std::array<std::array<char, 2>, 4096> pairs{};
    for (int i = 0; i < 4096; ++i)
        pairs[i] = {kBase64Alphabet[i >> 6], kBase64Alphabet[i & 63]};
    return pairs;
}();

// Value of each character: 0-63 for the alphabet, kForeign for every other
// byte, kPadValue for "=".
constexpr signed char kForeign = -1;
constexpr signed char kPadValue = -2;
constexpr auto kValues = [] {
    std::array<signed char, 256> values{};
    values.fill(kForeign);
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<signed char>(i);
    values[static_cast<unsigned char>(kPad)] = kPadValue;
    return values;
}();

// The decoder's fast path: each of the 4 positions of a group has a table of
// its 6 bits already shifted into place, so a group is 4 lookups and 3 ORs.
// Anything but an alphabet character sets kBad, which no valid group has.
constexpr std::uint32_t kBad = 1u << 24;
constexpr auto kShifted = [] {
    std::array<std::array<std::uint32_t, 256>, 4> tables{};
    for (int pos = 0; pos < 4; ++pos)
        for (int c = 0; c < 256; ++c)
            tables[pos][c] = kValues[c] >= 0 ? std::uint32_t(kValues[c]) << (18 - 6 * pos) : kBad;
    return tables;
}();

// The 24 bits of 4 characters, or kBad set when any is not in the alphabet.
inline std::uint32_t GroupBits(const unsigned char* p)
{
    return kShifted[0][p[0]] | kShifted[1][p[1]] | kShifted[2][p[2]] | kShifted[3][p[3]];
}

inline void PutGroup(std::uint32_t bits, unsigned char* out)
{
    out[0] = static_cast<unsigned char>(bits >> 16);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits);
}

inline void EncodeGroup(const unsigned char* src, char* out)
{
    const std::uint32_t group = std::uint32_t(src[0]) << 16 | std::uint32_t(src[1]) << 8 | src[2];
    std::memcpy(out, kPairs[group >> 12].data(), 2);
    std::memcpy(out + 2, kPairs[group & 0xFFF].data(), 2);
}

// Two groups (6 bytes) at once from one 8-byte load; reads 2 bytes beyond them.
inline void EncodeTwoGroups(const unsigned char* src, char* out)
{
    std::uint64_t x;
    std::memcpy(&x, src, 8);
    if constexpr (std::endian::native == std::endian::little)
        x = __builtin_bswap64(x);
    std::memcpy(out, kPairs[(x >> 52) & 0xFFF].data(), 2);
    std::memcpy(out + 2, kPairs[(x >> 40) & 0xFFF].data(), 2);
    std::memcpy(out + 4, kPairs[(x >> 28) & 0xFFF].data(), 2);
    std::memcpy(out + 6, kPairs[(x >> 16) & 0xFFF].data(), 2);
}

// The alphabet characters among n bytes, up to the first "=" if there is one
// (then *padFound is set). Branch-free between pads, with 8-bit counts per
// block of 255 bytes, so that the compiler can use byte-wide vector code.
std::int64_t CountAlphabetChars(const unsigned char* p, std::size_t n, bool* padFound)
{
    if (HaveVectorBase64())
        return CountAlphabetVector(p, n, padFound);
    if (const void* pad = std::memchr(p, kPad, n)) {
        *padFound = true;
        n = std::size_t(static_cast<const unsigned char*>(pad) - p);
    }
    std::int64_t total = 0;
    while (n > 0) {
        const std::size_t block = n < 255 ? n : 255;
        std::uint8_t count = 0;
        for (std::size_t i = 0; i < block; ++i)
            count = std::uint8_t(count + IsBase64AlphabetChar(p[i]));
        total += count;
        p += block;
        n -= block;
    }
    return total;
}

struct ScannedText {
    std::size_t length;        // up to the terminating zero
    std::int64_t decodedSize;  // 3/4 of the alphabet characters before the first "="
};

// One pass over the text, in chunks small enough to stay in the cache while
// the alphabet characters of a chunk are counted after its terminator search.
ScannedText ScanText(const char* text)
{
    constexpr std::size_t kChunk = 64 * 1024;
    std::size_t length = 0;
    std::int64_t significant = 0;
    for (bool padFound = false;;) {
        const char* chunk = text + length;
        // memchr stops reading at the match, so it never runs past the terminator.
        const void* zero = std::memchr(chunk, '\0', kChunk);
        const std::size_t n = zero ? std::size_t(static_cast<const char*>(zero) - chunk) : kChunk;
        significant += CountAlphabetChars(reinterpret_cast<const unsigned char*>(chunk), n, &padFound);
        length += n;
        if (zero)
            break;
        if (padFound) {
            length += std::strlen(text + length);
            break;
        }
    }
    return {length, 3 * significant / 4};
}

}  // namespace

std::int64_t Base64EncodedSize(std::uint64_t n)
{
    if (n > std::uint64_t(std::numeric_limits<std::int64_t>::max() / 8) * 3)
        return -1;
    const std::int64_t chars = 4 * std::int64_t(n / 3) + (n % 3 ? 4 : 0);
    return chars + 2 * (chars / kLineChars) + 1;
}

void Base64EncodeQuantum(const unsigned char* src, int count, char* out)
{
    if (count < 1)
        return;
    const unsigned char group[3] = {src[0], count > 1 ? src[1] : (unsigned char)0,
                                    count > 2 ? src[2] : (unsigned char)0};
    EncodeGroup(group, out);
    if (count == 1)
        out[2] = kPad;
    if (count <= 2)
        out[3] = kPad;
}

int Base64Encode(const void* data, std::int64_t n, char* out, std::int64_t capacity)
{
    if (!data || !out || n < 1)
        return 0;
    const std::int64_t size = Base64EncodedSize(std::uint64_t(n));
    if (size < 0 || capacity < size)
        return 0;

    const auto* src = static_cast<const unsigned char*>(data);
    char* o = out;
    std::int64_t left = n;
    // Whole lines, each followed by CR LF.
    if (HaveVectorBase64()) {
        const std::int64_t lines = left / kLineBytes;
        EncodeLinesVector(src, lines, o);
        src += lines * kLineBytes;
        o += lines * (kLineChars + 2);
        left -= lines * kLineBytes;
    }
    // Portably: 9 double groups, whose 8-byte loads stay inside the line's 57
    // bytes, and one single group.
    for (; left >= kLineBytes; left -= kLineBytes, src += kLineBytes) {
        for (int i = 0; i < 9; ++i)
            EncodeTwoGroups(src + 6 * i, o + 8 * i);
        EncodeGroup(src + 54, o + 72);
        o[76] = '\r';
        o[77] = '\n';
        o += kLineChars + 2;
    }
    // The last, shorter line: no line break after it.
    for (; left >= 3; left -= 3, src += 3, o += 4)
        EncodeGroup(src, o);
    if (left > 0) {
        Base64EncodeQuantum(src, int(left), o);
        o += 4;
    }
    // The rest of the buffer is zero, which also terminates the text.
    std::memset(o, 0, std::size_t(capacity - (o - out)));
    return 1;
}

bool IsBase64Char(char c)
{
    return kValues[static_cast<unsigned char>(c)] != kForeign;
}

std::int64_t Base64DecodedSize(const char* text)
{
    if (!text)
        return -1;
    return ScanText(text).decodedSize;
}

int Base64DecodeQuantum(const char* in, unsigned char* out)
{
    std::uint32_t bits = 0;
    int taken = 0;
    while (taken < 4 && in[taken] != kPad) {
        const signed char value = kValues[static_cast<unsigned char>(in[taken])];
        bits = bits << 6 | std::uint32_t(value >= 0 ? value : 0);
        ++taken;
    }
    if (taken == 0)
        return -1;
    if (taken == 1)
        return 0;
    bits <<= 6 * (4 - taken);
    out[0] = static_cast<unsigned char>(bits >> 16);
    if (taken >= 3)
        out[1] = static_cast<unsigned char>(bits >> 8);
    if (taken == 4)
        out[2] = static_cast<unsigned char>(bits);
    return taken - 1;
}

std::int64_t Base64Decode(const char* text, void* out, std::int64_t capacity)
{
    if (!text || !out)
        return -1;
    const ScannedText scan = ScanText(text);
    if (capacity < scan.decodedSize)
        return -1;

    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* const end = p + scan.length;
    auto* const start = static_cast<unsigned char*>(out);
    unsigned char* o = start;
    char quantum[4];
    int held = 0;
    while (p < end) {
        if (held == 0) {
            // Fast path: whole groups of 4 alphabet characters, the bulk of any
            // encoded text (a 76-character line is 19 of them).
            if (HaveVectorBase64())
                DecodeBlocksVector(p, end, o);
            for (; end - p >= 8; p += 8, o += 6) {
                const std::uint32_t a = GroupBits(p), b = GroupBits(p + 4);
                if ((a | b) & kBad)
                    break;
                PutGroup(a, o);
                PutGroup(b, o + 3);
            }
            if (end - p >= 4) {
                const std::uint32_t a = GroupBits(p);
                if (!(a & kBad)) {
                    PutGroup(a, o);
                    o += 3;
                    p += 4;
                    continue;
                }
            }
            if (p == end)
                break;
        }
        // Slow path, one character at a time: foreign characters are skipped,
        // even inside a group, and a group with "=" ends the text.
        const char c = static_cast<char>(*p++);
        if (!IsBase64Char(c)) {
            // A line break is a run of them: skip it all before the fast path.
            while (p < end && !IsBase64Char(static_cast<char>(*p)))
                ++p;
            continue;
        }
        quantum[held++] = c;
        if (held < 4)
            continue;
        const int written = Base64DecodeQuantum(quantum, o);
        if (written < 0)
            break;
        o += written;
        held = 0;
        if (written < 3)
            break;
    }
    return o - start;
}
