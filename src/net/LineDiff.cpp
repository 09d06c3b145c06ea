#include "net/LineDiff.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace {

std::vector<std::string_view> SplitDiffLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    lines.reserve(size_t(std::count(text.begin(), text.end(), '\n')) + 1);
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return lines;
}

struct DiffSides {
    const std::vector<std::string_view>& a;
    const std::vector<std::string_view>& b;
    std::vector<LineChange>& changes;

    // Replaces a[a0, a1) by b[b0, b1), less the lines both share at either end.
    void Stretch(size_t a0, size_t a1, size_t b0, size_t b1)
    {
        while (a0 < a1 && b0 < b1 && a[a0] == b[b0])
            ++a0, ++b0;
        while (a0 < a1 && b0 < b1 && a[a1 - 1] == b[b1 - 1])
            --a1, --b1;
        if (a0 < a1 || b0 < b1)
            changes.push_back({a0, a1 - a0, b0, b1 - b0});
    }
};

// The longest run of pairs whose second members rise, the pairs being in the
// order of their first members (patience sorting).
std::vector<std::pair<size_t, size_t>> RisingRun(const std::vector<std::pair<size_t, size_t>>& pairs)
{
    std::vector<size_t> tops;  // per run length, the pair ending the run with the lowest second member
    std::vector<size_t> previous(pairs.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        const auto at = std::lower_bound(tops.begin(), tops.end(), pairs[i].second,
                                         [&](size_t top, size_t value) { return pairs[top].second < value; });
        previous[i] = at == tops.begin() ? SIZE_MAX : *(at - 1);
        if (at == tops.end())
            tops.push_back(i);
        else
            *at = i;
    }
    std::vector<std::pair<size_t, size_t>> run;
    for (size_t i = tops.empty() ? SIZE_MAX : tops.back(); i != SIZE_MAX; i = previous[i])
        run.push_back(pairs[i]);
    std::reverse(run.begin(), run.end());
    return run;
}

}  // namespace

std::vector<LineChange> DiffLines(std::string_view before, std::string_view after)
{
    const std::vector<std::string_view> a = SplitDiffLines(before);
    const std::vector<std::string_view> b = SplitDiffLines(after);
    std::vector<LineChange> changes;
    DiffSides sides{a, b, changes};

    // The lines shared at both ends need no lookup: most refreshes end here.
    size_t head = 0, tail = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const size_t aEnd = a.size() - tail, bEnd = b.size() - tail;

    struct Seen {
        std::uint32_t inA = 0, inB = 0;
        size_t atA = 0, atB = 0;
    };
    std::unordered_map<std::string_view, Seen> seen;
    seen.reserve(aEnd - head + bEnd - head);
    for (size_t i = head; i < aEnd; ++i) {
        Seen& s = seen[a[i]];
        ++s.inA, s.atA = i;
    }
    for (size_t j = head; j < bEnd; ++j) {
        Seen& s = seen[b[j]];
        ++s.inB, s.atB = j;
    }
    std::vector<std::pair<size_t, size_t>> unique;
    for (size_t i = head; i < aEnd; ++i)
        if (const Seen& s = seen[a[i]]; s.inA == 1 && s.inB == 1)
            unique.emplace_back(i, s.atB);

    size_t a0 = head, b0 = head;
    for (const auto& [i, j] : RisingRun(unique)) {
        sides.Stretch(a0, i, b0, j);
        a0 = i + 1, b0 = j + 1;
    }
    sides.Stretch(a0, aEnd, b0, bEnd);
    return changes;
}
