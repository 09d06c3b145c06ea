// The text checks and the byte reader of net/.
#include <gtest/gtest.h>

#include <string_view>

#include "net/ByteReader.h"
#include "net/ByteText.h"

TEST(ByteText, Utf8Validity)
{
    for (const char* text : {"", "plain ASCII\r\n", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"})
        EXPECT_TRUE(IsValidUtf8(text)) << text;
    for (const char* text : {"caf\xE9",          // Latin-1
                             "\xC0\xAF",         // overlong
                             "\xED\xA0\x80",     // surrogate
                             "\xF4\x90\x80\x80", // past U+10FFFF
                             "\xE2\x82", "\xC3"}) // cut short
        EXPECT_FALSE(IsValidUtf8(text)) << text;
}

TEST(ByteReader, AbsoluteReadsStopAtTheEnd)
{
    const std::uint8_t bytes[] = {0x45, 0x00, 0x01, 0x02, 0x7F, 0x00, 0x00, 0x01};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.U32At(4), 0x7F000001u);
    for (std::size_t at : {std::size_t(5), std::size_t(8), SIZE_MAX - 1})  // no wrap-around past the end
        EXPECT_EQ(r.U32At(at), std::nullopt) << at;
    EXPECT_EQ(r.U16At(7), std::nullopt);
    EXPECT_EQ(r.U16(), 0x4500);  // absolute reads did not move
    EXPECT_EQ(r.Text(2), std::string_view("\x01\x02", 2));
    EXPECT_EQ(r.Text(5), std::nullopt);
    EXPECT_EQ(r.Position(), 4u);
}
