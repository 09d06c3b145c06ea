#include "base64/Base64.h"

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base64/Base64Vector.h"

namespace {

// ---- A plain reference, one step at a time, written from the algorithm the
// codec must follow; the fast codec has to agree with it byte for byte.

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::int64_t RefEncodedSize(std::int64_t n)
{
    std::int64_t chars = 4 * (n / 3) + (n % 3 != 0 ? 4 : 0);
    return chars + 2 * (chars / 76) + 1;
}

void RefQuantum(const unsigned char* src, int count, char* out)
{
    unsigned group = unsigned(src[0]) << 16;
    if (count > 1)
        group |= unsigned(src[1]) << 8;
    if (count > 2)
        group |= src[2];
    for (int i = 0; i < 4; ++i)
        out[i] = kAlphabet[(group >> (18 - 6 * i)) & 63];
    if (count == 1)
        out[2] = out[3] = '=';
    if (count == 2)
        out[3] = '=';
}

// The whole buffer of capacity bytes, as the encoder leaves it.
std::string RefEncode(const std::string& data, std::int64_t capacity)
{
    std::string out(std::size_t(capacity), '\0');
    std::size_t pos = 0, i = 0;
    const auto* src = reinterpret_cast<const unsigned char*>(data.data());
    for (; i + 3 <= data.size(); i += 3) {
        RefQuantum(src + i, 3, &out[pos]);
        pos += 4;
        if ((i + 3) % 57 == 0) {
            out[pos++] = '\r';
            out[pos++] = '\n';
        }
    }
    if (i < data.size())
        RefQuantum(src + i, int(data.size() - i), &out[pos]);
    return out;
}

bool RefIsChar(char c)
{
    return c == '=' || kAlphabet.find(c) != std::string::npos;
}

std::int64_t RefDecodedSize(const std::string& text)
{
    std::int64_t k = 0;
    for (char c : text) {
        if (c == '\0' || c == '=')
            break;
        k += RefIsChar(c);
    }
    return 3 * k / 4;
}

std::string RefDecode(const std::string& text)
{
    std::string out;
    std::string quantum;
    for (char c : text) {
        if (c == '\0')
            break;
        if (!RefIsChar(c))
            continue;
        quantum += c;
        if (quantum.size() < 4)
            continue;
        int taken = 0;
        unsigned bits = 0;
        while (taken < 4 && quantum[std::size_t(taken)] != '=')
            bits = bits << 6 | unsigned(kAlphabet.find(quantum[std::size_t(taken++)]));
        if (taken == 0)
            break;
        bits <<= 6 * (4 - taken);
        for (int b = 0; b < taken - 1; ++b)
            out += char((bits >> (16 - 8 * b)) & 0xFF);
        quantum.clear();
        if (taken < 4)
            break;
    }
    return out;
}

// ---- Helpers around the codec under test.

std::string Encode(const std::string& data)
{
    const std::int64_t size = Base64EncodedSize(data.size());
    std::string out(std::size_t(size), 'x');
    EXPECT_EQ(Base64Encode(data.data(), std::int64_t(data.size()), out.data(), size), 1);
    return out;
}

// The encoded text up to its terminating zero.
std::string EncodeText(const std::string& data)
{
    return Encode(data).c_str();
}

std::string Decode(const std::string& text)
{
    const std::int64_t size = Base64DecodedSize(text.c_str());
    std::vector<unsigned char> out(std::size_t(size) + 1, 0xAA);
    const std::int64_t n = Base64Decode(text.c_str(), out.data(), size);
    EXPECT_GE(n, 0) << text;
    EXPECT_LE(n, size) << text;
    EXPECT_EQ(out[std::size_t(size)], 0xAA) << "wrote past the decoded size: " << text;
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(n < 0 ? 0 : n));
}

// Every test runs twice: with the processor's vector kernels where it has
// them, and with the portable code alone.
class Base64Codec : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { EnableVectorBase64(GetParam()); }
    void TearDown() override { EnableVectorBase64(true); }
};

std::string Line(char c)
{
    return std::string(76, c);
}

TEST_P(Base64Codec, SizesCountBytesOfEachLengthAndTheTerminator)
{
    EXPECT_EQ(Base64EncodedSize(0), 1);
    EXPECT_EQ(Base64EncodedSize(1), 5);
    EXPECT_EQ(Base64EncodedSize(3), 5);
    EXPECT_EQ(Base64EncodedSize(56), 79);  // counts a line break that is not written
    EXPECT_EQ(Base64EncodedSize(57), 79);
    EXPECT_EQ(Base64EncodedSize(58), 83);
    EXPECT_EQ(Base64EncodedSize(114), 157);
    // Sizes beyond 32 bits, as large attachments need, are still exact.
    EXPECT_EQ(Base64EncodedSize(57ull * 100'000'000), 78ll * 100'000'000 + 1);
    EXPECT_EQ(Base64EncodedSize(std::numeric_limits<std::uint64_t>::max()), -1);
}

TEST_P(Base64Codec, EncodeShortInputsArePaddedWithoutLineBreak)
{
    EXPECT_EQ(EncodeText("M"), "TQ==");
    EXPECT_EQ(EncodeText("Ma"), "TWE=");
    EXPECT_EQ(EncodeText("Man"), "TWFu");
    EXPECT_EQ(EncodeText(std::string("\0\xff\xfe", 3)), "AP/+");
    char out[5] = "....";
    Base64EncodeQuantum(reinterpret_cast<const unsigned char*>("Man"), 2, out);
    EXPECT_STREQ(out, "TWE=");
}

TEST_P(Base64Codec, EncodeBreaksLinesAfterEvery57Bytes)
{
    // 57 bytes of 0x00 encode to 76 "A"; 0xFF to 76 "/".
    EXPECT_EQ(EncodeText(std::string(57, '\0')), Line('A') + "\r\n");
    EXPECT_EQ(EncodeText(std::string(58, '\xff')), Line('/') + "\r\n" + "/w==");
    EXPECT_EQ(EncodeText(std::string(114, '\0')), Line('A') + "\r\n" + Line('A') + "\r\n");

    // 56 bytes leave the 2 counted but unwritten bytes zero, as all the rest.
    const std::string out = Encode(std::string(56, '\0'));
    ASSERT_EQ(out.size(), 79u);
    EXPECT_EQ(out, std::string(72, 'A') + "AAA=" + std::string(3, '\0'));
}

TEST_P(Base64Codec, EncodeRefusesWithoutTouchingTheBuffer)
{
    std::string out(200, 'x');
    const std::string untouched = out;
    const char data[58] = {};
    EXPECT_EQ(Base64Encode(data, 0, out.data(), 200), 0);
    EXPECT_EQ(Base64Encode(data, -1, out.data(), 200), 0);
    EXPECT_EQ(Base64Encode(nullptr, 3, out.data(), 200), 0);
    EXPECT_EQ(Base64Encode(data, 3, nullptr, 200), 0);
    EXPECT_EQ(Base64Encode(data, 58, out.data(), 82), 0);  // needs 83
    EXPECT_EQ(Base64Encode(data, 56, out.data(), 78), 0);  // needs 79, though 77 are written
    EXPECT_EQ(Base64Encode(data, std::numeric_limits<std::int64_t>::max(), out.data(), 200), 0);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(Base64Encode(data, 58, out.data(), 83), 1);
}

TEST_P(Base64Codec, CharsOnlyTheAlphabetAndPadAreSignificant)
{
    for (int c = 0; c < 256; ++c) {
        const bool expected = RefIsChar(char(c)) && c != 0;
        EXPECT_EQ(IsBase64Char(char(c)), expected) << "byte " << c;
    }
}

TEST_P(Base64Codec, DecodedSizeCountsSignificantCharactersBeforeThePad)
{
    EXPECT_EQ(Base64DecodedSize(nullptr), -1);
    EXPECT_EQ(Base64DecodedSize(""), 0);
    EXPECT_EQ(Base64DecodedSize(" \r\n-_\t\x80"), 0);
    EXPECT_EQ(Base64DecodedSize("===="), 0);
    EXPECT_EQ(Base64DecodedSize("QQ=="), 1);
    EXPECT_EQ(Base64DecodedSize("QUI="), 2);
    EXPECT_EQ(Base64DecodedSize("QUJD"), 3);
    EXPECT_EQ(Base64DecodedSize("QUJD\r\nRE=="), 4);
    EXPECT_EQ(Base64DecodedSize("QUJDRE"), 4);  // an upper bound: only 3 are decoded
    EXPECT_EQ(Base64DecodedSize("QQ==QUJDQUJD"), 1);
}

TEST_P(Base64Codec, DecodeQuantumStopsAtThePad)
{
    unsigned char out[3] = {};
    EXPECT_EQ(Base64DecodeQuantum("=QUJ", out), -1);
    EXPECT_EQ(Base64DecodeQuantum("Q===", out), 0);
    EXPECT_EQ(Base64DecodeQuantum("QQ==", out), 1);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(Base64DecodeQuantum("QUI=", out), 2);
    EXPECT_EQ(std::string(out, out + 2), "AB");
    EXPECT_EQ(Base64DecodeQuantum("QUJD", out), 3);
    EXPECT_EQ(std::string(out, out + 3), "ABC");
    EXPECT_EQ(Base64DecodeQuantum("QU=D", out), 1);
}

TEST_P(Base64Codec, DecodeSkipsForeignCharactersEvenInsideAGroup)
{
    EXPECT_EQ(Decode("QUJDRA=="), "ABCD");
    EXPECT_EQ(Decode("Q U\r\nJ\tD-_\x80\xffR\r\nA=\r\n="), "ABCD");
    EXPECT_EQ(Decode("\r\n\r\nQUJD\r\n"), "ABC");
    // The encoder's own line breaks decode away.
    const std::string data(200, 'z');
    EXPECT_EQ(Decode(EncodeText(data)), data);
}

TEST_P(Base64Codec, DecodeStopsAtTheFirstPaddedGroup)
{
    EXPECT_EQ(Decode("QQ==QUJD"), "A");
    EXPECT_EQ(Decode("QUJDQUI=QUJD"), "ABCAB");
    EXPECT_EQ(Decode("QU=DQUJD"), "A");  // a pad in the middle of a group
    EXPECT_EQ(Decode("=QUJDQUJD"), "");
    EXPECT_EQ(Decode("QUJD=QUJD"), "ABC");
    EXPECT_EQ(Decode("Q===QUJD"), "");
    EXPECT_EQ(Decode("========"), "");
}

TEST_P(Base64Codec, DecodeDropsAnUnpaddedRemainder)
{
    EXPECT_EQ(Decode("QUJDRA"), "ABC");
    EXPECT_EQ(Decode("QUJDREU"), "ABC");
    EXPECT_EQ(Decode("Q"), "");
    EXPECT_EQ(Decode("no base64 here!"), RefDecode("no base64 here!"));
    EXPECT_EQ(Decode("AAEA"), std::string("\0\1\0", 3));  // zero bytes are data too
}

TEST_P(Base64Codec, DecodeRefusesASmallBufferWithoutWriting)
{
    unsigned char out[8] = {};
    EXPECT_EQ(Base64Decode(nullptr, out, 8), -1);
    EXPECT_EQ(Base64Decode("QUJD", nullptr, 8), -1);
    EXPECT_EQ(Base64Decode("QUJDRE", out, 3), -1);  // the size counts 4
    EXPECT_EQ(Base64Decode("QUJD", out, -1), -1);
    EXPECT_EQ(std::string(out, out + 8), std::string(8, '\0'));
    EXPECT_EQ(Base64Decode("QUJDRE", out, 4), 3);
    EXPECT_EQ(Base64Decode("", out, 0), 0);
}

// Random inputs of every length from 1 to 1000: the codec agrees with the
// reference, and decoding gives back what was encoded.
TEST_P(Base64Codec, PropertyAgreesWithTheReferenceAndRoundTrips)
{
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int n = 1; n <= 1000; ++n) {
        std::string data(std::size_t(n), '\0');
        for (char& c : data)
            c = char(byte(rng));
        const std::int64_t size = Base64EncodedSize(std::uint64_t(n));
        ASSERT_EQ(size, RefEncodedSize(n));
        const std::int64_t capacity = size + n % 5;  // also larger buffers: all zero-filled
        std::string out(std::size_t(capacity), 'x');
        ASSERT_EQ(Base64Encode(data.data(), n, out.data(), capacity), 1);
        ASSERT_EQ(out, RefEncode(data, capacity)) << "length " << n;
        ASSERT_EQ(Decode(out.c_str()), data) << "length " << n;
    }
}

// Random texts mixing the alphabet, pads and foreign bytes at random
// densities exercise every switch between the fast and the careful path.
TEST_P(Base64Codec, PropertyDecodesArbitraryTextLikeTheReference)
{
    std::mt19937 rng(7);
    const std::string foreign = " \r\n\t-_.\x80\xff";
    for (int n = 1; n <= 1000; ++n) {
        const int foreignPercent = n % 3 == 0 ? 0 : int(rng() % 20);
        const int padPerMille = n % 2 == 0 ? 0 : int(rng() % 10);
        std::string text;
        for (int i = 0; i < n; ++i) {
            const unsigned r = rng() % 1000;
            if (r < unsigned(padPerMille))
                text += '=';
            else if (r < unsigned(padPerMille + 10 * foreignPercent))
                text += foreign[rng() % foreign.size()];
            else
                text += kAlphabet[rng() % 64];
        }
        ASSERT_EQ(Decode(text), RefDecode(text)) << text;
        ASSERT_EQ(Base64DecodedSize(text.c_str()), RefDecodedSize(text)) << text;
    }
}

// Long texts, larger than the pieces the text is scanned in, with the
// terminator and the first pad on either side of a piece boundary.
TEST_P(Base64Codec, PropertyLongTextsDecodeLikeTheReference)
{
    std::mt19937 rng(99);
    for (std::size_t length : {65535u, 65536u, 65537u, 131072u + 5}) {
        std::string text;
        while (text.size() < length) {
            text += kAlphabet[rng() % 64];
            if (rng() % 97 == 0)
                text += "\r\n";
        }
        text.resize(length);
        EXPECT_EQ(Decode(text), RefDecode(text)) << length;
        EXPECT_EQ(Base64DecodedSize(text.c_str()), RefDecodedSize(text)) << length;
        for (std::size_t pad : {std::size_t(100), length - 70000 % length, length - 2}) {
            std::string padded = text;
            padded[pad] = '=';
            EXPECT_EQ(Decode(padded), RefDecode(padded)) << length << " pad at " << pad;
            EXPECT_EQ(Base64DecodedSize(padded.c_str()), RefDecodedSize(padded)) << length << " pad at " << pad;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Base64Codec, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "Vector" : "Portable"; });

}  // namespace
