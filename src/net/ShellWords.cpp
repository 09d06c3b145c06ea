#include "net/ShellWords.h"

#include <algorithm>

#include "net/IpAddress.h"

namespace {

// Nothing here means anything to the shell inside a word, nor at its start.
constexpr std::string_view kShellBareMarks = "-_./:@%+=,";

bool IsBareShellWord(std::string_view word)
{
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               kShellBareMarks.find(c) != std::string_view::npos;
    });
}

}  // namespace

std::string ShellWord(std::string_view word)
{
    if (IsBareShellWord(word))
        return std::string(word);
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
    return quoted + "'";
}

std::string ShellCommand(std::initializer_list<std::string_view> words,
                         std::initializer_list<std::string_view> operands)
{
    std::string line;
    for (std::string_view word : words)
        line += (line.empty() ? "" : " ") + ShellWord(word);
    if (std::any_of(operands.begin(), operands.end(), [](std::string_view o) { return o.starts_with('-'); }))
        line += " --";
    for (std::string_view operand : operands)
        line += " " + ShellWord(operand);
    return line;
}

std::string CommandHost(std::string_view host)
{
    if (host.size() > 2 && host.starts_with('[') && host.ends_with(']') && ParseIpv6Literal(host))
        host = host.substr(1, host.size() - 2);
    return std::string(host);
}
