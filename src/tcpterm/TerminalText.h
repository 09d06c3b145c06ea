#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text handling of the TCP terminal: what is sent, and how much received text
// the pane keeps. (The Port box and the masking of received bytes are read
// with ReadPortNumber and MaskUnprintable, net/ByteText.h.)

// The text of the send dialog as it goes on the wire: every line break as
// CR LF, none added after the last line. Line breaks that already are CR LF
// stay as they are.
std::string WithCrLf(std::string_view text);

// The nc command of the same session: connected to host and port, or with
// host empty listening on port; line breaks sent as CR LF.
std::string NetcatCommandLine(const std::string& host, std::uint16_t port);

// How much received text the pane keeps. Past `high` bytes, or once the line
// being written grows past `lineHigh` bytes (a long line is laid out again on
// every append, which is what makes a flood expensive to show), the pane
// restarts with the newest text: at most `keep` bytes from the beginning of a
// line, or only the newest `lineKeep` bytes of an overlong last line.
struct PaneBound {
    std::size_t keep;
    std::size_t high;
    std::size_t lineKeep;
    std::size_t lineHigh;
};

// Given the text the pane shows and the text about to be appended, nullopt
// when appending keeps the pane within bound, else the offset into the two
// joined from which the pane restarts.
std::optional<std::size_t> PaneRestartOffset(std::string_view shown, std::string_view incoming,
                                             const PaneBound& bound);

// The offset from which the newest `keep` bytes of text start, moved on to the
// beginning of the next line when a line break follows among them (and is not
// the last byte).
std::size_t NewestTextOffset(std::string_view text, std::size_t keep);
