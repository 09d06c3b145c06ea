#include "base64/Base64.h"

#include <algorithm>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "base64/Base64Vector.h"
#include "support/Base64Reference.h"

namespace {

using namespace std::string_literals;

void ExpectDecodesLikeReference(const std::string& text)
{
    const std::string shown = "length " + std::to_string(text.size()) + ": " + text.substr(0, 1000);
    ASSERT_EQ(DecodeInBounds(text), RefDecode(text)) << shown;
    ASSERT_EQ(Base64DecodedSize(text.c_str()), RefDecodedSize(text)) << shown;
}

std::string Line(char c)
{
    return std::string(76, c) + "\r\n";
}

// Every test runs with the processor's vector kernels where it has them, and
// with the portable code alone.
class Base64Codec : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { EnableVectorBase64(GetParam()); }
    void TearDown() override { EnableVectorBase64(true); }
};

// The whole buffer of Base64EncodedSize bytes, as the encoder leaves it.
TEST_P(Base64Codec, EncodeSizesPaddingAndLineBreaks)
{
    const std::pair<std::string, std::string> cases[] = {
        {"M", "TQ==\0"s}, {"Ma", "TWE=\0"s}, {"Man", "TWFu\0"s}, {"\0\xff\xfe"s, "AP/+\0"s},
        // 56 bytes: the size counts a line break that is not written; those bytes stay zero.
        {std::string(56, '\0'), std::string(75, 'A') + "=" + std::string(3, '\0')},
        {std::string(57, '\0'), Line('A') + '\0'},  // 57 bytes of 0x00 are 76 "A", of 0xFF 76 "/"
        {std::string(58, '\xff'), Line('/') + "/w==\0"s},
        {std::string(114, '\0'), Line('A') + Line('A') + '\0'},
    };
    for (const auto& [data, buffer] : cases)
        EXPECT_EQ(EncodeInto(data, Base64EncodedSize(data.size())), buffer) << data.size() << " bytes";
    EXPECT_EQ(Base64EncodedSize(0), 1);
    EXPECT_EQ(Base64EncodedSize(57ull * 100'000'000), 78ll * 100'000'000 + 1);  // beyond 32 bits
    EXPECT_EQ(Base64EncodedSize(std::numeric_limits<std::uint64_t>::max()), -1);

    char out[5] = "....";
    Base64EncodeQuantum(reinterpret_cast<const unsigned char*>("Man"), 2, out);
    EXPECT_STREQ(out, "TWE=");
}

TEST_P(Base64Codec, RefusalsLeaveTheBufferUntouched)
{
    std::string out(200, 'x');
    const char data[58] = {};
    EXPECT_EQ(Base64Encode(data, 0, out.data(), 200), 0);
    EXPECT_EQ(Base64Encode(data, -1, out.data(), 200), 0);
    EXPECT_EQ(Base64Encode(data, 58, out.data(), 82), 0);  // needs 83
    EXPECT_EQ(Base64Encode(data, 56, out.data(), 78), 0);  // needs 79, though 77 are written
    EXPECT_EQ(Base64Encode(data, std::numeric_limits<std::int64_t>::max(), out.data(), 200), 0);
    EXPECT_EQ(Base64Decode("QUJDRE", out.data(), 3), -1);  // the size counts 4
    EXPECT_EQ(Base64Decode("QUJD", out.data(), -1), -1);
    EXPECT_EQ(out, std::string(200, 'x'));
}

// "QUJD" is "ABC": a group gives the bytes of its characters before the pad.
TEST_P(Base64Codec, DecodeQuantumStopsAtThePad)
{
    const std::pair<const char*, int> cases[] = {{"=QUJ", -1}, {"Q===", 0}, {"QU=D", 1}, {"QUI=", 2}, {"QUJD", 3}};
    for (const auto& [in, n] : cases) {
        unsigned char out[3] = {};
        ASSERT_EQ(Base64DecodeQuantum(in, out), n) << in;
        EXPECT_EQ(std::string(out, out + std::max(n, 0)), std::string("ABC", std::size_t(std::max(n, 0)))) << in;
    }
}

// Foreign characters are skipped even inside a group; the first group with a
// pad ends the text; an unpadded rest is dropped, though the size counts it.
TEST_P(Base64Codec, DecodeAndItsSize)
{
    const struct {
        std::string text, bytes;
        std::int64_t size;
    } cases[] = {
        {"", "", 0},
        {"\r\nQ U\r\nJ\tD-_\x80\xffR\r\nA=\r\n=", "ABCD", 4},
        {"AAEA", "\0\1\0"s, 3},
        {"QUJDQUI=QUJD", "ABCAB", 5},
        {"QU=DQUJD", "A", 1},  // a pad in the middle of a group
        {"QUJD=QUJD", "ABC", 3},
        {"=QUJDQUJD", "", 0},
        {"Q===QUJD", "", 0},
        {"QUJDREU", "ABC", 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeInBounds(c.text), c.bytes) << c.text;
        EXPECT_EQ(Base64DecodedSize(c.text.c_str()), c.size) << c.text;
    }
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(IsBase64Char(char(c)), RefIsChar(char(c))) << "byte " << c;
}

// Random inputs of every length from 1 to 1000: the codec agrees with the
// reference, into buffers of the exact size and larger, and decodes back.
TEST_P(Base64Codec, PropertyAgreesWithTheReferenceAndRoundTrips)
{
    std::mt19937 rng(20240607);
    for (int n = 1; n <= 1000; ++n) {
        std::string data(std::size_t(n), '\0');
        for (char& c : data)
            c = char(rng());
        const std::int64_t size = Base64EncodedSize(std::uint64_t(n));
        ASSERT_EQ(size, RefEncodedSize(n));
        const std::size_t capacity = std::size_t(size + n % 5);
        const auto out = EncodeInto(data, std::int64_t(capacity));
        ASSERT_EQ(out, RefEncode(data, capacity)) << "length " << n;
        ASSERT_EQ(DecodeInBounds(out->c_str()), data) << "length " << n;
    }
}

// Texts larger than the pieces the decoder scans (short ones are the fuzz
// target's) end and have their first pad on either side of a piece boundary.
TEST_P(Base64Codec, PropertyDecodesAcrossPiecesLikeTheReference)
{
    std::mt19937 rng(7);
    const std::string foreign = " \r\n\t-_.\x80\xff";
    for (std::size_t n : {65535u, 65536u, 65537u, 131072u + 5}) {
        std::string text;
        while (text.size() < n)
            text += rng() % 50 == 0 ? foreign[rng() % foreign.size()] : kRefAlphabet[rng() % 64];
        ExpectDecodesLikeReference(text);
        for (std::size_t pad : {n - 2, n - 70000 % n, std::size_t(100)}) {  // each before the last
            text[pad] = '=';
            ExpectDecodesLikeReference(text);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Base64Codec, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "Vector" : "Portable"; });

}  // namespace
