// The bounds-checked byte reader of net/.
#include <gtest/gtest.h>

#include "net/ByteReader.h"

TEST(ByteReader, ReadsStopAtTheEnd)
{
    const std::uint8_t bytes[] = {0x45, 0x00, 0x01, 0x02, 0x7F, 0x00, 0x00, 0x01};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.U32At(4), 0x7F000001u);
    for (std::size_t at : {std::size_t(5), SIZE_MAX - 1})  // no wrap-around past the end
        EXPECT_EQ(r.U32At(at), std::nullopt) << at;
    EXPECT_EQ(r.U16At(7), std::nullopt);
    EXPECT_EQ(r.U16(), 0x4500);  // absolute reads did not move
    EXPECT_EQ(r.Text(2), std::string_view("\x01\x02", 2));
    EXPECT_EQ(r.Text(5), std::nullopt);
}
