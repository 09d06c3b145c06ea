#include "hostcfg/ServicesFile.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view NextWord(std::string_view& line)
{
    std::size_t start = 0;
    while (start < line.size() && IsBlank(line[start]))
        ++start;
    std::size_t end = start;
    while (end < line.size() && !IsBlank(line[end]))
        ++end;
    const std::string_view word = line.substr(start, end - start);
    line.remove_prefix(end);
    return word;
}

}  // namespace

std::vector<ServiceEntry> ParseServices(std::string_view text)
{
    std::vector<ServiceEntry> entries;
    std::vector<bool> seen(65536);  // a port keeps the first entry it meets
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        line = line.substr(0, line.find('#'));

        const std::string_view name = NextWord(line);
        const std::string_view portProtocol = NextWord(line);
        const std::size_t slash = portProtocol.find('/');
        if (name.empty() || slash == std::string_view::npos || slash == 0 || slash + 1 == portProtocol.size())
            continue;
        unsigned port = 0;
        const char* const first = portProtocol.data();
        const auto [end, ec] = std::from_chars(first, first + slash, port);
        if (ec != std::errc() || end != first + slash || port > 65535 || seen[port])
            continue;
        seen[port] = true;
        entries.push_back({std::uint16_t(port), std::string(name), std::string(portProtocol.substr(slash + 1))});
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.port < b.port; });
    return entries;
}

std::vector<ServiceEntry> ReadServicesFile(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return ParseServices(text);
}
