// The bounds-checked byte reader of net/.
#include <gtest/gtest.h>

#include "net/ByteReader.h"
#include "net/IpAddress.h"
#include "net/TargetText.h"

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

// The host a pane's menu offers: the word under the column (at: the text there; nullptr: past the end), or a
// selection; "host|port", or nullptr for nothing.
TEST(TargetText, HostUnderTheColumnOrSelected)
{
    const struct {
        const char* line;
        const char* at;
        const char* host;
        bool selection = false;
    } rows[] = {
        {"TCP  127.0.0.1:22             10.0.0.1:51234         ESTABLISHED", "27.0", "127.0.0.1|22"},
        {"TCP  127.0.0.1:22             10.0.0.1:51234         ESTABLISHED", "1234 ", "10.0.0.1|51234"},
        {"TCP  127.0.0.1:22             10.0.0.1:51234         ESTABLISHED", "ESTAB", nullptr},
        {"TCP  [2001:db8::1]:443  0.0.0.0:0", "db8", "2001:db8::1|443"},
        {"TCP  [2001:db8::1]:443  0.0.0.0:0", "0.0.0.0", nullptr},
        {"UDP  [fe80::1%eth0]:7        *.*", "eth0", "fe80::1%eth0|7"},
        {"UDP  [fe80::1%eth0]:7        *.*", "*.*", nullptr},
        {"2    2001:db8:1234:5678::1  5      TTL_EXPIRED_TRANSIT", "5678", "2001:db8:1234:5678::1"},
        {"254  255.255.255.255  123456  DEST_HOST_UNREACHABLE", "255.", nullptr},
        {"\tResolving Address For example.org...", "ample", "example.org"},
        {"\t[192.0.2.1]", "192", "192.0.2.1"},
        {"[DNS QUERY: example.org]", "org", "example.org"},
        {"MX: Preference: 10, Exchange: mail.example.test", "mail", "mail.example.test"},
        {"PTR: ptrname: host.example.test.", "host", "host.example.test"},
        {"Source: 192.0.2.7:5353", "Source", nullptr},
        {"ReferralServer: rwhois://rwhois.example.net:4321/", "hois.ex", "rwhois.example.net|4321"},
        {"ReferralServer: rwhois://rwhois.example.net:4321/", "rwhois:", nullptr},
        {"OrgAbuseEmail: abuse@example.net", "example", "example.net"},
        {"Reply 1ms 12:30:45", "1ms", nullptr},
        {"Reply 1ms 12:30:45", "30", nullptr},
        {"192.0.2.1", nullptr, nullptr},
        {" whois://whois.example.net:43/ ", nullptr, "whois.example.net|43", true},
        {"localhost\r\n", nullptr, "localhost", true},
        {"1ms", nullptr, nullptr, true},
        {"example.org whois.arin.net", nullptr, nullptr, true},
    };
    for (const auto& row : rows) {
        const std::string_view line = row.line;
        const auto found = row.selection ? HostTargetOfSelection(line)
                                         : HostTargetAt(line, row.at ? line.find(row.at) : line.size());
        std::string shown = found ? found->host + (found->port ? "|" + std::to_string(*found->port) : "") : "-";
        EXPECT_EQ(shown, row.host ? row.host : "-") << row.line << " at " << (row.at ? row.at : "end");
        if (found) {
            EXPECT_EQ(found->address.IsNone(), !ParseIpLiteral(found->host.substr(0, found->host.find('%'))));
        }
    }
}
