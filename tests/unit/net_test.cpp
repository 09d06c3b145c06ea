// The bounds-checked byte reader, addresses, the line diff, the hosts named in a line and the command lines
// the pages save, of net/.
#include <gtest/gtest.h>

#include "capture/CaptureCommand.h"
#include "dns/DnsQueryRequest.h"
#include "icmp/EchoReports.h"
#include "net/ByteReader.h"
#include "net/IpAddress.h"
#include "net/LineDiff.h"
#include "net/TargetText.h"
#include "whois/WhoisQuery.h"

TEST(ByteReader, ReadsStopAtTheEnd)
{
    const std::uint8_t bytes[] = {0x45, 0x00, 0x01, 0x02, 0x7F, 0x00, 0x00, 0x01};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.U32At(4), 0x7F000001u);
    for (std::size_t at : {std::size_t(5), SIZE_MAX - 1})  // no wrap-around past the end
        EXPECT_EQ(r.U32At(at), std::nullopt) << at;
    EXPECT_EQ(r.U16At(7), std::nullopt);
    EXPECT_EQ(r.U16(), 0x4500);  // absolute reads did not move
    EXPECT_EQ(r.Text(2), std::string_view("\x01\x02", 2));
    EXPECT_EQ(r.Text(5), std::nullopt);
}

// How the tools read and write addresses: literals as users type them, RFC 5952 text, PTR names.
TEST(IpAddress, LiteralsTextAndReverseNames)
{
    const struct {
        const char* typed;
        const char* text;  // nullptr: not a literal
        const char* withPort;
        bool neverAHost;
    } rows[] = {
        {"192.0.2.1", "192.0.2.1", "192.0.2.1:25", false},
        {"[2001:DB8:0:0:0:0:0:1]", "2001:db8::1", "[2001:db8::1]:25", false},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1", nullptr, false},  // one zero group stays
        {"fe80::1%lo", "fe80::1%lo", "[fe80::1%lo]:25", false},
        {"::", "::", nullptr, true},
        {"ff02::1", "ff02::1", nullptr, true},
        {"255.255.255.255", "255.255.255.255", nullptr, true},
        {"2001:db8::1%nosuchif", nullptr, nullptr, false},
        {"1.2.3", nullptr, nullptr, false},
        {"example.org", nullptr, nullptr, false},
    };
    for (const auto& row : rows) {
        const auto parsed = ParseIpLiteral(row.typed);
        ASSERT_EQ(parsed.has_value(), row.text != nullptr) << row.typed;
        if (!parsed)
            continue;
        EXPECT_EQ(IpText(*parsed), row.text);
        EXPECT_EQ(parsed->IsNeverAHost(), row.neverAHost) << row.typed;
        if (row.withPort) {
            EXPECT_EQ(IpPortText(*parsed, 25), row.withPort);
        }
    }
    EXPECT_EQ(ReverseLookupName(*ParseIpLiteral("192.0.2.1")), "1.2.0.192.in-addr.arpa");
    EXPECT_EQ(ReverseLookupName(*ParseIpLiteral("2001:db8::1")),
              "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa");
    EXPECT_EQ(LookupHost("localhost").IsV4(), true);  // IPv4 first where a name has both
    EXPECT_EQ(LookupHost("1abc").V4(), 0xFFFFFFFFu);  // a leading digit is never looked up
}

// The changes turn the old lines into the new ones, and touch only what changed.
TEST(LineDiff, ChangesRebuildTheNewText)
{
    const struct { const char *before, *after; size_t changedLines; } cases[] = {
        {"a\nb\nc\n", "a\nb\nc\n", 0},
        {"a\nb\nc\nd\n", "a\nx\nc\ny\nd\n", 3},  // one replaced, one added between kept lines
        {"a\nb\nb\nc\n", "a\nb\nc\nb\n", 2},     // a repeated line moved
        {"a\nb", "a\nb\nc", 3},                  // no line break at the end
        {"", "a\n", 1},
    };
    for (const auto& c : cases) {
        const auto lines = [](std::string_view t) {
            std::vector<std::string> v;
            for (size_t end; !t.empty(); t.remove_prefix(end))
                v.emplace_back(t.substr(0, end = std::min(t.find('\n'), t.size() - 1) + 1));
            return v;
        };
        std::vector<std::string> result = lines(c.before), after = lines(c.after);
        size_t changed = 0;
        const auto changes = DiffLines(c.before, c.after);
        for (auto e = changes.rbegin(); e != changes.rend(); ++e) {
            result.erase(result.begin() + long(e->before), result.begin() + long(e->before + e->removed));
            result.insert(result.begin() + long(e->before), after.begin() + long(e->after),
                          after.begin() + long(e->after + e->added));
            changed += e->removed + e->added;
        }
        EXPECT_EQ(result, after) << c.before;
        EXPECT_EQ(changed, c.changedLines) << c.before;
    }
}

// Each page's request as the command that reproduces it; a pasted line never runs what a box held.
TEST(ShellWords, CommandLinesOfThePages)
{
    const std::pair<std::string, std::string> rows[] = {
        {DigCommandLine({"example.org", "192.0.2.53", DnsQueryType::MX}), "dig @192.0.2.53 example.org MX +noedns"},
        {DigCommandLine({"-x", "[::1]", DnsQueryType::AAAA}), "dig @::1 -q -x AAAA +noedns"},
        {PingCommandLine("a'$(touch x);b `id` \\"), "ping -c 1 -t 128 -W 3 'a'\\''$(touch x);b `id` \\'"},
        {TraceCommandLine("[2001:db8::1]"), "traceroute -I -n -q 1 -w 2 -m 254 2001:db8::1"},
        {WhoisCommandLine({"[2001:db8::1]", "whois.nic.uk"}), "whois -h whois.arin.net 2001:db8::1"},
        {WhoisCommandLine({"-i origin", "a b"}), "whois -h 'a b' -- '-i origin'"},
        {TcpdumpCommandLine("eth0", {{CaptureProtocol::Tcp, PortDirection::Either, 80, 4}}), "tcpdump -n -X -i eth0 'ip and tcp port 80'"},
        {TcpdumpCommandLine("lo", {{CaptureProtocol::TcpAndUdp, PortDirection::Source, 53, 6}, true, CaptureView::Text}),
         "tcpdump -n -A -i lo 'ip6 and (tcp or udp) and src port 53'"},
    };
    for (const auto& [line, expected] : rows)
        EXPECT_EQ(line, expected);
}

// The host a pane's menu offers: the word under the column (at: the text there; nullptr: past the end), or a
// selection; "host|port", or "-" for nothing.
TEST(TargetText, HostUnderTheColumnOrSelected)
{
    const struct { const char *line, *at, *host; bool selection = false; } rows[] = {
        {"TCP  127.0.0.1:22             0.0.0.0:0              LISTEN", "0.0.0.0", "-"},
        {"UDP  [fe80::1%eth0]:7        *.*", "eth0", "fe80::1%eth0|7"},
        {"2    2001:db8:1234:5678::1  5      TTL_EXPIRED_TRANSIT", "5678", "2001:db8:1234:5678::1"},
        {"\tResolving Address For example.org...\r\n\t[192.0.2.1]", "ample", "example.org"},
        {"\tResolving Address For example.org...\r\n\t[192.0.2.1]", "192", "192.0.2.1"},
        {"[DNS QUERY: example.org]", "org", "example.org"},
        {"ReferralServer: rwhois://rwhois.example.net:4321/", "hois.ex", "rwhois.example.net|4321"},
        {"Version: 1.3 (BETA)", "1.3", "-"},
        {"192.0.2.1", nullptr, "-"},
        {" whois://whois.example.net:43/ ", nullptr, "whois.example.net|43", true},
        {"localhost\r\n", nullptr, "localhost", true},
        {"1ms", nullptr, "-", true},
    };
    for (const auto& row : rows) {
        const std::string_view line = row.line;
        const auto found = row.selection ? HostTargetOfSelection(line)
                                         : HostTargetAt(line, row.at ? line.find(row.at) : line.size());
        std::string shown = found ? found->host : "-";
        if (found && found->port)
            shown.append("|").append(std::to_string(*found->port));
        EXPECT_EQ(shown, row.host) << row.line << " at " << (row.at ? row.at : "end");
    }
}
