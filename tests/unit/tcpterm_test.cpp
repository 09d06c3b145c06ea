#include <gtest/gtest.h>

#include <string>

#include "tcpterm/TerminalText.h"

TEST(TcpTermText, SentLinesEndInCrLf)
{
    EXPECT_EQ(WithCrLf("first\nsecond"), "first\r\nsecond");
    EXPECT_EQ(WithCrLf("a\r\nb\n\nc\n"), "a\r\nb\r\n\r\nc\r\n");
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

// That a restarted pane is within bound again, whatever arrives, the fuzz
// target checks; here, where the pane restarts.
TEST(TcpTermText, PaneRestartsWithTheNewestTextPastItsBound)
{
    const PaneBound bound{10, 20, 4, 8};
    EXPECT_FALSE(PaneRestartOffset("0123\n", "4567\n", bound));
    EXPECT_FALSE(PaneRestartOffset(std::string(15, 'a') + "\n", "bbb\n", bound));

    // Past 20 bytes the newest 10 stay, from the start of a line, whichever
    // part the line break lies in.
    EXPECT_EQ(PaneRestartOffset("line1\nline2\nline3\n", "four\nfive\n", bound), 18u);
    EXPECT_EQ(PaneRestartOffset("xxxxxxxxxxxxxxx", "x\nyy\nzz", bound), 17u);
    // No break among the newest 10 and an overlong line: its newest 4.
    EXPECT_EQ(PaneRestartOffset("xxxxxxxxxxxxxx\nxxxxxx", "yyyyyyy", bound), 24u);
    // The last line grows past 8 bytes: only its tail stays.
    EXPECT_EQ(PaneRestartOffset("ab\nccccc", "cccc", bound), 8u);
}
