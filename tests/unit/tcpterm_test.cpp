#include <gtest/gtest.h>

#include <string>

#include "tcpterm/TerminalText.h"

TEST(TcpTermText, PortBoxIsDecimalAndLongRunsStayOutOfRange)
{
    EXPECT_EQ(ReadPortNumber("1"), 1);
    EXPECT_EQ(ReadPortNumber("65535"), 65535);
    EXPECT_EQ(ReadPortNumber("080"), 80);
    EXPECT_EQ(ReadPortNumber("0"), 0);
    EXPECT_EQ(ReadPortNumber("65536"), 65536);
    EXPECT_GT(ReadPortNumber("99999999999999999999999"), 65535);  // no wrap-around into range
    EXPECT_EQ(ReadPortNumber(""), -1);
    EXPECT_EQ(ReadPortNumber("8o"), -1);
    EXPECT_EQ(ReadPortNumber("-1"), -1);
}

TEST(TcpTermText, UnprintableBytesBecomeDotsButTabAndLineBreaksPass)
{
    std::string bytes("A\x00\x07\xff\x7f\x1f\t\r\n~ z", 12);
    MaskUnprintable(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, "A.....\t\r\n~ z");
}

TEST(TcpTermText, SentTextHasCrLfBetweenLinesAndNoneAdded)
{
    EXPECT_EQ(WithCrLf("first\nsecond"), "first\r\nsecond");
    EXPECT_EQ(WithCrLf("a\r\nb\n\nc\n"), "a\r\nb\r\n\r\nc\r\n");
    EXPECT_EQ(WithCrLf("\n"), "\r\n");
    EXPECT_EQ(WithCrLf(""), "");
}

TEST(TcpTermText, NewestTextStartsAtALineWhenOneBeginsInIt)
{
    EXPECT_EQ(NewestTextOffset("abc", 5), 0u);
    EXPECT_EQ(NewestTextOffset("aaaa\nbb\ncc", 6), 5u);  // "bb\ncc"
    EXPECT_EQ(NewestTextOffset("aaaa\nbbb", 3), 5u);     // cut falls on a line start
    EXPECT_EQ(NewestTextOffset("aaaaaaaa", 3), 5u);      // one long line: its tail
    EXPECT_EQ(NewestTextOffset("aaaaaaa\n", 3), 5u);     // the only break is the last byte
}

TEST(TcpTermText, PaneRestartsWithTheNewestTextPastItsBound)
{
    const PaneBound bound{10, 20, 4, 8};
    EXPECT_FALSE(PaneRestartOffset("0123\n", "4567\n", bound));
    EXPECT_FALSE(PaneRestartOffset(std::string(15, 'a') + "\n", "bbb\n", bound));

    // Past 20 bytes the newest 10 stay, from the start of a line.
    const std::string shown = "line1\nline2\nline3\n";  // 18 bytes
    auto from = PaneRestartOffset(shown, "four\nfive\n", bound);
    ASSERT_TRUE(from);
    EXPECT_EQ((shown + "four\nfive\n").substr(*from), "four\nfive\n");

    // The line break that starts the kept text may lie in either part.
    from = PaneRestartOffset("xxxxxxxxxxxxxxx", "x\nyy\nzz", bound);
    ASSERT_TRUE(from);
    EXPECT_EQ(*from, 17u);
    from = PaneRestartOffset("xxxxxxxxxxxxxx\nxxxxxx", "yyyyyyy", bound);
    ASSERT_TRUE(from);
    EXPECT_EQ(*from, 24u);  // no break among the newest 10 and an overlong line: its newest 4
}

TEST(TcpTermText, AnOverlongLastLineKeepsOnlyItsTail)
{
    const PaneBound bound{10, 20, 4, 8};
    auto from = PaneRestartOffset("ab\nccccc", "cccc", bound);  // last line 9 > 8
    ASSERT_TRUE(from);
    EXPECT_EQ(std::string("ab\nccccccccc").substr(*from), "cccc");

    // Whatever arrives, the restarted pane is within bound again.
    for (std::string incoming : {std::string(100, 'x'), std::string(50, 'y') + "\n", std::string("\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n")}) {
        const std::string shown = "12345\n1234567";
        auto cut = PaneRestartOffset(shown, incoming, bound);
        ASSERT_TRUE(cut);
        const std::string kept = (shown + incoming).substr(*cut);
        EXPECT_LE(kept.size(), bound.keep);
        EXPECT_FALSE(PaneRestartOffset("", kept, bound)) << kept;
    }
}
