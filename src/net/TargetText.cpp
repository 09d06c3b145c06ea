#include "net/TargetText.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <cctype>

namespace {

// A host name of 253 characters with a port, brackets and punctuation round
// it; no longer word is read, so a long run of text costs one pass.
constexpr std::size_t kLongestHostWord = 300;

// The characters a host word is made of; the rest (space, "/", "@", quotes,
// "=", "*" ...) end it, so "rwhois://host:4321/" and "abuse@example.net" give
// up their host part.
bool IsTargetNameChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x80 && std::isalnum(u)) || c == '.' || c == '-' || c == '_';
}

bool IsTargetWordChar(char c)
{
    return IsTargetNameChar(c) || c == ':' || c == '[' || c == ']' || c == '%';
}

std::optional<std::uint16_t> TargetPortOf(std::string_view digits)
{
    if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return c >= '0' && c <= '9';
        }))
        return std::nullopt;
    const unsigned port = unsigned(std::stoul(std::string(digits)));
    return port <= 65535 ? std::optional<std::uint16_t>(std::uint16_t(port)) : std::nullopt;
}

// An IPv4 literal (four decimal parts) or an IPv6 one with an optional zone;
// the zone is kept as text, as an interface of another host need not exist here.
std::optional<IpAddress> TargetAddressOf(std::string_view text)
{
    in_addr v4{};
    if (text.size() < INET_ADDRSTRLEN && inet_pton(AF_INET, std::string(text).c_str(), &v4) == 1)
        return IpAddress::V4(v4.s_addr);
    const std::size_t percent = text.find('%');
    if (percent != std::string_view::npos) {
        const std::string_view zone = text.substr(percent + 1);
        if (zone.empty() || zone.size() >= IF_NAMESIZE || !std::all_of(zone.begin(), zone.end(), IsTargetNameChar))
            return std::nullopt;
    }
    in6_addr v6{};
    if (text.substr(0, percent).size() < INET6_ADDRSTRLEN &&
        inet_pton(AF_INET6, std::string(text.substr(0, percent)).c_str(), &v6) == 1)
        return IpAddress::V6(v6);
    return std::nullopt;
}

// A DNS name of letters, digits, "-" and "_": labels of 1 to 63 characters,
// none starting or ending with "-", the last one not all digits (that would be
// a mistyped address) and at least two labels unless one is allowed.
bool IsTargetHostName(std::string_view name, bool oneLabel)
{
    if (name.empty() || name.size() > 253)
        return false;
    std::size_t labels = 0;
    std::string_view last;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = name.find('.', start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view label = name.substr(start, end - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
            !std::all_of(label.begin(), label.end(), IsTargetNameChar))
            return false;
        ++labels;
        last = label;
        start = end + 1;
    }
    if (std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    // A lone word must begin with a letter: the pages take a leading digit for an address.
    return labels >= 2 || (oneLabel && std::isalpha(static_cast<unsigned char>(name.front())));
}

// host, [host], [host]:port, host:port, or an IPv6 literal on its own.
std::optional<HostTarget> ReadTargetHostWord(std::string_view word, bool oneLabel)
{
    HostTarget target;
    std::string_view host = word;
    std::string_view port;
    if (word.front() == '[') {
        const std::size_t close = word.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = word.substr(1, close - 1);
        const std::string_view rest = word.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return std::nullopt;
        port = rest.substr(rest.empty() ? 0 : 1);
    } else if (std::count(word.begin(), word.end(), ':') == 1) {
        const std::size_t colon = word.find(':');
        host = word.substr(0, colon);
        port = word.substr(colon + 1);
        if (port.empty())
            return std::nullopt;
    }
    if (!port.empty()) {
        target.port = TargetPortOf(port);
        if (!target.port)
            return std::nullopt;
        if (*target.port == 0)  // no port to connect to
            target.port.reset();
    }
    if (host.find_first_of("[]") != std::string_view::npos)
        return std::nullopt;
    if (const std::optional<IpAddress> address = TargetAddressOf(host)) {
        if (address->IsNeverAHost())
            return std::nullopt;
        target.address = *address;
    } else {
        if (!host.empty() && host.back() == '.')
            host.remove_suffix(1);  // a fully qualified name's root
        if (!IsTargetHostName(host, oneLabel))
            return std::nullopt;
    }
    target.host = std::string(host);
    return target;
}

// A word as it stands in a sentence or a table: trailing commas, full stops,
// colons and unmatched brackets ("[DNS QUERY: example.org]", "For example.org...",
// "ptrname: host.example.,") are not part of the host.
std::optional<HostTarget> ReadTargetWord(std::string_view word, bool oneLabel)
{
    if (word.size() > kLongestHostWord)
        return std::nullopt;
    for (;;) {
        if (word.empty())
            return std::nullopt;
        if (word.front() == '[' && word.find(']') == std::string_view::npos) {
            word.remove_prefix(1);
            continue;
        }
        if (std::optional<HostTarget> target = ReadTargetHostWord(word, oneLabel))
            return target;
        const char last = word.back();
        const bool unmatched = last == ']' && word.find('[') == std::string_view::npos;
        if (last != '.' && last != ',' && last != ';' && last != ':' && !unmatched)
            return std::nullopt;
        word.remove_suffix(1);
    }
}

}  // namespace

std::optional<HostTarget> HostTargetAt(std::string_view line, std::size_t column)
{
    if (column >= line.size() || !IsTargetWordChar(line[column]))
        return std::nullopt;
    std::size_t start = column;
    while (start > 0 && IsTargetWordChar(line[start - 1]))
        --start;
    std::size_t end = column + 1;
    while (end < line.size() && IsTargetWordChar(line[end]))
        ++end;
    return ReadTargetWord(line.substr(start, end - start), false);
}

std::optional<HostTarget> HostTargetOfSelection(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    // A referral's URL, selected whole: its host and port.
    if (const std::size_t scheme = text.find("://"); scheme != std::string_view::npos)
        text = text.substr(scheme + 3);
    text = text.substr(0, text.find('/'));
    return ReadTargetWord(text, true);
}
