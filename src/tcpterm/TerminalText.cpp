#include "tcpterm/TerminalText.h"

#include <algorithm>

#include "net/ShellWords.h"

std::string WithCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::size_t NewestTextOffset(std::string_view text, std::size_t keep)
{
    if (text.size() <= keep)
        return 0;
    const std::size_t from = text.size() - keep;
    if (from > 0 && text[from - 1] == '\n')
        return from;
    const std::size_t lf = text.find('\n', from);
    // A break at the very end would leave nothing to show: keep the line's tail then.
    return lf == std::string_view::npos || lf + 1 == text.size() ? from : lf + 1;
}

std::optional<std::size_t> PaneRestartOffset(std::string_view shown, std::string_view incoming,
                                             const PaneBound& bound)
{
    const std::size_t total = shown.size() + incoming.size();
    std::size_t lastLine;
    if (const std::size_t lf = incoming.rfind('\n'); lf != std::string_view::npos) {
        lastLine = incoming.size() - lf - 1;
    } else {
        const std::size_t shownLf = shown.rfind('\n');
        lastLine = (shownLf == std::string_view::npos ? shown.size() : shown.size() - shownLf - 1) + incoming.size();
    }
    if (total <= bound.high && lastLine <= bound.lineHigh)
        return std::nullopt;

    std::size_t from = total > bound.keep ? total - bound.keep : 0;
    // Where the kept text starts at a line break, find it without joining the two.
    if (from > 0) {
        const bool atLineStart = from <= shown.size() ? shown[from - 1] == '\n'
                                                      : incoming[from - shown.size() - 1] == '\n';
        if (!atLineStart) {
            std::size_t lf = std::string_view::npos;
            if (from < shown.size()) {
                lf = shown.find('\n', from);
                if (lf == std::string_view::npos && (lf = incoming.find('\n')) != std::string_view::npos)
                    lf += shown.size();
            } else if ((lf = incoming.find('\n', from - shown.size())) != std::string_view::npos) {
                lf += shown.size();
            }
            if (lf != std::string_view::npos && lf + 1 < total)
                from = lf + 1;
        }
    }
    if (lastLine > bound.lineHigh)
        from = std::max(from, total - std::min(bound.lineKeep, lastLine));
    return from;
}

std::string NetcatCommandLine(const std::string& host, std::uint16_t port)
{
    if (host.empty())
        return ShellCommand({"nc", "-C", "-l", std::to_string(port)});
    return ShellCommand({"nc", "-C"}, {CommandHost(host), std::to_string(port)});
}
