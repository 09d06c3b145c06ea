// The platform layer's text checks, byte reader and echo-library binding. (Its
// waits are every engine's, shown by their peer tests and the task tests.)
#include <gtest/gtest.h>

#include <string_view>

#include "net/ByteReader.h"
#include "net/ByteText.h"
#include "support/FakeEchoLibrary.h"

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

TEST(IcmpLibrary, BindsAllThreeEntryPointsOrNoneAndGuards)
{
    {
        FakeEchoLibrary fake;
        ASSERT_TRUE(fake.Loaded());
        EXPECT_EQ(GuardedIcmpCreateFile(), 1);
        EXPECT_EQ(GuardedIcmpCloseHandle(1), 1);
        FreeIcmpLibrary();
        FreeIcmpLibrary();  // nothing to release twice
        EXPECT_EQ(fake.released, 1);
        EXPECT_EQ(TheIcmpLibrary().handle, nullptr);
    }
    // One entry point missing: the library is released and nothing stays bound.
    FakeEchoLibrary partial("IcmpSendEcho");
    EXPECT_FALSE(partial.Loaded());
    EXPECT_EQ(partial.released, 1);
    EXPECT_EQ(TheIcmpLibrary().handle, nullptr);
    EXPECT_EQ(LoadIcmpLibrary({[]() -> const void* { return nullptr; }, nullptr, nullptr}), 0);

    // Unbound, the guards answer failure.
    EXPECT_EQ(GuardedIcmpCreateFile(), kInvalidIcmpHandle);
    EXPECT_EQ(GuardedIcmpCloseHandle(7), 0);
    EXPECT_EQ(GuardedIcmpSendEcho(7, 0, nullptr, 0, nullptr, nullptr, 0, 0), 0u);
    EXPECT_EQ(partial.opened + partial.closed, 0);
}
