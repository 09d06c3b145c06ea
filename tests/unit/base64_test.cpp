#include <cctype>
#include <limits>
#include <optional>

#include "base64/Base64.h"
#include "base64/Base64Vector.h"
#include "support/MailTestSink.h"
#include "support/TempFiles.h"
#include "support/TestNamespace.h"

namespace {

using namespace std::string_literals;

// Base64Encode into capacity bytes first filled with "x"; nullopt when it refuses.
std::optional<std::string> EncodeInto(const std::string& data, std::int64_t capacity)
{
    std::string out(std::size_t(capacity), 'x');
    return Base64Encode(data.data(), std::int64_t(data.size()), out.data(), capacity) == 1 ? std::optional(out) : std::nullopt;
}

// Base64Decode into exactly Base64DecodedSize bytes, refused one byte less.
std::optional<std::string> Decode(const std::string& text)
{
    const std::int64_t size = Base64DecodedSize(text.c_str());
    std::vector<char> out(std::max<std::size_t>(std::size_t(size), 1));
    const std::int64_t n = Base64Decode(text.c_str(), out.data(), size);
    if (n < 0 || n > size || (size > 0 && Base64Decode(text.c_str(), out.data(), size - 1) != -1))
        return std::nullopt;
    return std::string(out.data(), std::size_t(n));
}

// coreutils' base64 of data, its line feeds as CR LF, none after a short last line.
std::string Coreutils(const std::string& data)
{
    const std::string text = CommandOutput("base64 -w 76 " + TempFiles("base64").Write("data", data) + " | sed 's/$/\\r/'");
    return text.substr(0, text.size() - (data.size() % 57 ? 2 : 0));
}

// Each test with the processor's vector kernels where it has them, and with the portable code alone.
class Base64Codec : public ::testing::TestWithParam<bool> {
    void SetUp() override { EnableVectorBase64(GetParam()); }
    void TearDown() override { EnableVectorBase64(true); }
};

// Every length up to two lines, and longer ones: the text coreutils writes, zeros after it to the
// buffer's end, refused by a buffer one byte short.
TEST_P(Base64Codec, EncodesAsCoreutilsAndBack)
{
    for (std::size_t n = 1; n <= 65537; n = n < 130 ? n + 1 : n * 22) {
        const std::string data = RandomBytes(n, unsigned(n));
        const std::int64_t size = Base64EncodedSize(n);
        std::string expected = Coreutils(data);
        expected.resize(std::size_t(size) + n % 5, '\0');
        const auto out = EncodeInto(data, std::int64_t(expected.size()));
        ASSERT_EQ(out, expected) << n;
        ASSERT_EQ(EncodeInto(data, size - 1), std::nullopt) << n;
        ASSERT_EQ(Decode(out->c_str()), data) << n;
    }
    EXPECT_EQ(Base64EncodedSize(57ull * 100'000'000), 78ll * 100'000'000 + 1);  // beyond 32 bits
    EXPECT_EQ(Base64EncodedSize(std::numeric_limits<std::uint64_t>::max()), -1);
    std::string out(200, 'x');  // refusals leave the buffer untouched
    EXPECT_EQ(Base64Encode(out.data(), 0, out.data(), 200) + Base64Encode(out.data(), -1, out.data(), 200) +
              Base64Encode(out.data(), std::numeric_limits<std::int64_t>::max(), out.data(), 200) + Base64Decode("QUJD", out.data(), -1), -1);
    EXPECT_EQ(out, std::string(200, 'x'));
}

// Foreign characters are skipped even inside a group; the first group with a pad ends the text; an
// unpadded rest is dropped, though the size counts it. Then long texts with foreign bytes strewn in,
// whose end or pad (garbage after it) falls on either side of the 64 KiB pieces the decoder scans.
TEST_P(Base64Codec, Decodes)
{
    std::vector<std::tuple<std::string, std::string, std::int64_t>> cases = {
        {"", "", 0}, {"\r\nQ U\r\nJ\tD-_\x80\xffR\r\nA=\r\n=", "ABCD", 4}, {"AAEA", "\0\1\0"s, 3},
        {"QUJDQUI=QUJD", "ABCAB", 5}, {"QU=DQUJD", "A", 1}, {"QUJD=QUJD", "ABC", 3}, {"=QUJDQUJD", "", 0},
        {"Q===QUJD", "", 0}, {"QUJDREU", "ABC", 5},
    };
    std::mt19937 rng(7);
    for (const std::size_t at : {65535u, 65536u, 65537u, 131077u}) {
        for (const bool padded : {false, true}) {
            const std::string data = RandomBytes(at / 2 / 3 * 3 + padded, unsigned(at));
            std::string text;
            for (const char c : std::string(EncodeInto(data, Base64EncodedSize(data.size()))->c_str()))
                text.append(rng() % 50 ? "" : std::string(1, " \r\n\t-_.\x80\xff"[rng() % 9])) += c;
            const std::size_t end = padded ? text.find('=') : text.size();
            text.insert(rng() % end, at - end, ' ');
            text.append(padded ? 80'000 : 0, 'Q');
            cases.emplace_back(text, data, data.size());
        }
    }
    for (const auto& [text, bytes, size] : cases)
        EXPECT_EQ(std::pair(Decode(text), Base64DecodedSize(text.c_str())), std::pair(std::optional(bytes), size)) << text.size();
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(IsBase64Char(char(c)), c < 128 && (std::isalnum(c) || c == '+' || c == '/' || c == '=')) << c;
}

INSTANTIATE_TEST_SUITE_P(Paths, Base64Codec, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "Vector" : "Portable"; });

}  // namespace
