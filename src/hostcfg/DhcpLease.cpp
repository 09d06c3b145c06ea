#include "hostcfg/DhcpLease.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Splits dhclient's lease syntax into words; quotes keep their content as one
// word, and ';', '{' and '}' are words of their own.
std::vector<std::string_view> LeaseTokens(std::string_view text)
{
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else if (c == '#') {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == ';' || c == '{' || c == '}') {
            tokens.push_back(text.substr(i++, 1));
        } else if (c == '"') {
            const std::size_t end = text.find('"', i + 1);
            const std::size_t stop = end == std::string_view::npos ? text.size() : end;
            tokens.push_back(text.substr(i + 1, stop - i - 1));
            i = stop + 1;
        } else {
            const std::size_t start = i;
            while (i < text.size() && std::string_view(" \t\r\n;{}\"#").find(text[i]) == std::string_view::npos)
                ++i;
            tokens.push_back(text.substr(start, i - start));
        }
    }
    return tokens;
}

std::optional<std::int64_t> Number(std::string_view word)
{
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size())
        return std::nullopt;
    return value;
}

// The address in the form the adapter list prints it, or empty when word is none.
std::string Ipv4Text(std::string_view word)
{
    in_addr in{};
    char text[INET_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, std::string(word).c_str(), &in) != 1 || !inet_ntop(AF_INET, &in, text, sizeof text))
        return {};
    return text;
}

// Whether this process runs in the network namespace the host's DHCP daemons serve.
bool InHostNamespace(const LeaseSources& sources)
{
    struct stat own {}, other {};
    if (stat("/proc/self/ns/net", &own) != 0)
        return true;
    const auto same = [&](const char* path) {
        return path && stat(path, &other) == 0 && own.st_dev == other.st_dev && own.st_ino == other.st_ino;
    };
    if (sources.hostNamespace && stat(sources.hostNamespace, &other) == 0)
        return same(sources.hostNamespace);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(sources.namedNamespaces ? sources.namedNamespaces : "", ec), end;
         !ec && it != end; it.increment(ec))
        if (same(it->path().c_str()))
            return false;
    return true;  // the leases' addresses alone decide
}

// Three numbers joined by separator, such as "2026/12/08" or "10:00:00".
std::optional<std::array<int, 3>> Triple(std::string_view text, char separator)
{
    std::array<int, 3> parts{};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto [next, ec] = std::from_chars(at, end, parts[i]);
        if (ec != std::errc() || next == at || (i < 2 ? next == end || *next != separator : next != end))
            return std::nullopt;
        at = i < 2 ? next + 1 : next;
    }
    return parts;
}

// dhclient's times: "W YYYY/MM/DD HH:MM:SS" in UTC, or "epoch N".
std::optional<std::int64_t> LeaseTime(const std::vector<std::string_view>& words)
{
    if (words.size() == 2 && words[0] == "epoch")
        return Number(words[1]);
    if (words.size() != 3)
        return std::nullopt;
    const auto date = Triple(words[1], '/');
    const auto time = Triple(words[2], ':');
    if (!date || !time)
        return std::nullopt;
    const auto [year, month, day] = *date;
    const auto [hour, minute, second] = *time;
    const std::chrono::year_month_day ymd{std::chrono::year(year), std::chrono::month(unsigned(month)),
                                          std::chrono::day(unsigned(day))};
    if (year < 1970 || year > 9999 || !ymd.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 60)
        return std::nullopt;
    return std::int64_t(std::chrono::sys_days(ymd).time_since_epoch().count()) * 86400 + hour * 3600 + minute * 60 +
           second;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

std::optional<DhcpLease> ParseDhclientLeases(std::string_view text, std::string_view interface)
{
    const std::vector<std::string_view> tokens = LeaseTokens(text);
    std::optional<DhcpLease> found;
    std::size_t i = 0;
    while (i < tokens.size()) {
        if (tokens[i] != "lease" || i + 1 >= tokens.size() || tokens[i + 1] != "{") {
            ++i;
            continue;
        }
        i += 2;
        DhcpLease lease;
        std::string_view leaseInterface;
        std::optional<std::int64_t> expires, leaseTime;
        bool haveServer = false;
        // One statement a round: its words up to ';', or a nested block skipped whole.
        while (i < tokens.size() && tokens[i] != "}") {
            std::vector<std::string_view> words;
            int depth = 0;
            for (; i < tokens.size(); ++i) {
                if (tokens[i] == "{")
                    ++depth;
                else if (tokens[i] == "}" && depth-- == 0)
                    break;
                else if (tokens[i] == ";" && depth == 0) {
                    ++i;
                    break;
                } else if (depth == 0)
                    words.push_back(tokens[i]);
            }
            if (words.size() == 2 && words[0] == "interface")
                leaseInterface = words[1];
            else if (words.size() == 2 && words[0] == "fixed-address")
                lease.address = Ipv4Text(words[1]);
            else if (words.size() == 3 && words[0] == "option" && words[1] == "dhcp-server-identifier") {
                if (std::string server = Ipv4Text(words[2]); !server.empty())
                    lease.server = std::move(server), haveServer = true;
            } else if (words.size() == 3 && words[0] == "option" && words[1] == "dhcp-lease-time")
                leaseTime = Number(words[2]);
            else if (!words.empty() && words[0] == "expire")
                expires = LeaseTime({words.begin() + 1, words.end()});
        }
        if (i < tokens.size())
            ++i;  // the block's '}'
        if (!leaseInterface.empty() && leaseInterface != interface)
            continue;
        if (!haveServer && !expires)
            continue;
        lease.expires = expires.value_or(0);
        if (expires && leaseTime && *leaseTime >= 0 && *leaseTime <= *expires)
            lease.obtained = *expires - *leaseTime;
        found = lease;  // dhclient appends: the last lease is the current one
    }
    return found;
}

std::optional<DhcpLease> ParseKeyValueLease(std::string_view text, std::int64_t written)
{
    DhcpLease lease;
    std::optional<std::int64_t> lifetime;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "ADDRESS")
            lease.address = Ipv4Text(value);
        else if (key == "SERVER_ADDRESS") {
            if (std::string server = Ipv4Text(value); !server.empty())
                lease.server = std::move(server);
        } else if (key == "LIFETIME")
            lifetime = Number(value);
    }
    if (lease.address.empty())
        return std::nullopt;
    lease.obtained = written;
    if (lifetime && *lifetime >= 0 && *lifetime <= INT32_MAX)
        lease.expires = written + *lifetime;
    return lease;
}

std::optional<DhcpLease> FindDhcpLease(const LeaseSources& sources, const std::string& interface, unsigned index,
                                       const std::vector<std::string>& addresses)
{
    namespace fs = std::filesystem;
    auto writtenAt = [](const fs::path& path) -> std::int64_t {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_mtime) : 0;
    };
    auto files = [](const char* dir) {
        std::vector<fs::path> paths;
        std::error_code ec;
        for (fs::directory_iterator it(dir ? dir : "", ec), end; !ec && it != end; it.increment(ec))
            paths.push_back(it->path());
        return paths;
    };
    const std::string suffix = "-" + interface + ".lease";
    auto endsWith = [](const std::string& name, const std::string& tail) { return name.ends_with(tail); };
    auto current = [&](const std::optional<DhcpLease>& lease) {
        return lease && std::find(addresses.begin(), addresses.end(), lease->address) != addresses.end();
    };
    const bool host = InHostNamespace(sources);

    if (host && sources.networkdDir) {
        const fs::path path = fs::path(sources.networkdDir) / std::to_string(index);
        if (auto lease = ParseKeyValueLease(ReadFile(path), writtenAt(path)); current(lease))
            return lease;
    }
    for (const fs::path& path : files(host ? sources.networkManagerDir : nullptr)) {
        const std::string name = path.filename().string();
        if (!endsWith(name, suffix))
            continue;
        std::optional<DhcpLease> lease;
        if (name.starts_with("internal-"))
            lease = ParseKeyValueLease(ReadFile(path), writtenAt(path));
        else if (name.starts_with("dhclient-"))
            lease = ParseDhclientLeases(ReadFile(path), interface);
        if (current(lease))
            return lease;
    }
    for (const fs::path& path : files(sources.dhclientDir)) {
        const std::string name = path.filename().string();
        if (name == "dhclient.leases" || name == "dhclient." + interface + ".leases" ||
            (name.starts_with("dhclient-") && endsWith(name, "-" + interface + ".lease"))) {
            if (auto lease = ParseDhclientLeases(ReadFile(path), interface); current(lease))
                return lease;
        }
    }
    return std::nullopt;
}
