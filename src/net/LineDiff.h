#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// One change that turns a text into another, line by line: the old text's
// lines [before, before + removed) give way to the new text's lines
// [after, after + added). A line ends after its '\n'; a last line without one
// is a line too.
struct LineChange {
    std::size_t before = 0;
    std::size_t removed = 0;
    std::size_t after = 0;
    std::size_t added = 0;
};

// The changes from before to after, in line order, none touching another;
// none when the texts are equal. Lines found exactly once in each text anchor
// the match, as many of them as keep their order; between two anchors, what
// the texts do not share at the ends of the stretch is replaced whole. Linear
// in the lines but for the ordering of the anchors, so a table of a hundred
// thousand rows costs milliseconds.
std::vector<LineChange> DiffLines(std::string_view before, std::string_view after);
