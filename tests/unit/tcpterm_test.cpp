// The TCP terminal's text: what is sent, and where the bounded pane restarts.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tcpterm/TerminalText.h"

TEST(TcpTermText, SentLinesEndInCrLf)
{
    for (auto [text, sent] : {std::pair{"first\nsecond", "first\r\nsecond"}, {"a\r\nb\n\nc\n", "a\r\nb\r\n\r\nc\r\n"}, {"", ""}})
        EXPECT_EQ(WithCrLf(text), sent) << text;
}

TEST(TcpTermText, NewestTextStartsAtALineWhenOneBeginsInIt)
{
    const std::tuple<const char*, std::size_t, std::size_t> cases[] = {
        {"abc", 5, 0}, {"aaaa\nbb\ncc", 6, 5}, {"aaaa\nbbb", 3, 5} /* cut on a line start */,
        {"aaaaaaaa", 3, 5} /* one long line: its tail */, {"aaaaaaa\n", 3, 5} /* the only break is the last byte */};
    for (auto [text, keep, offset] : cases)
        EXPECT_EQ(NewestTextOffset(text, keep), offset) << text;
}

// Past 20 bytes the newest 10 stay, from a line start in either part; with no
// break among them, an overlong line's newest 4; a last line past 8 bytes: its tail.
TEST(TcpTermText, PaneRestartsWithTheNewestTextPastItsBound)
{
    const std::tuple<std::string, const char*, std::optional<std::size_t>> cases[] = {
        {"0123\n", "4567\n", {}}, {std::string(15, 'a') + "\n", "bbb\n", {}},
        {"line1\nline2\nline3\n", "four\nfive\n", 18}, {"xxxxxxxxxxxxxxx", "x\nyy\nzz", 17},
        {"xxxxxxxxxxxxxx\nxxxxxx", "yyyyyyy", 24}, {"ab\nccccc", "cccc", 8}};
    for (const auto& [shown, incoming, from] : cases)
        EXPECT_EQ(PaneRestartOffset(shown, incoming, PaneBound{10, 20, 4, 8}), from) << shown << "|" << incoming;
}
