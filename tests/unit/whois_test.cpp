// The whois server table, the answer text and the referral line.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "whois/WhoisAnswer.h"
#include "whois/WhoisQuery.h"
#include "whois/WhoisServerTable.h"

namespace {

// The keys in table order, as the registry table fixes them.
const char* const kKeys[kWhoisServerCount] = {
    "ca", "za", "ac", "cc", "tc", "ae", "be", "de", "ie", "name", "se", "ve", "gf", "bg", "sg", "ch", "sh",
    "li", "tj", "ck", "lk", "uk", "cl", "il", "mil", "nl", "bm", "hm", "mm", "tm", "museum", "cn", "in",
    "info", "aero", "so", "to", "jp", "coop", "br", "fr", "ir", "as", "is", "us", "ws", "bt", "it", "lt",
    "st", "au", "hu", "lu", "nu", "gov", "tv", "cx", "mx", "bz", "cz", "biz", "biz", "kz", "nz", "com"};

std::string Entry(std::size_t position)
{
    char area[kWhoisHostSize];
    EXPECT_TRUE(FetchWhoisServer(position, area, sizeof area));
    return area;
}

std::string Select(const std::string& query)
{
    char area[kWhoisHostSize] = "";
    return SelectWhoisServer(query, area, sizeof area) ? area : "(fails)";
}

}  // namespace

TEST(WhoisServerTable, EachEntryEndsInItsKey)
{
    std::set<std::string> names;
    for (std::size_t i = 0; i < kWhoisServerCount; ++i) {
        const std::string name = Entry(i);
        EXPECT_EQ(name.substr(name.rfind('.') + 1), kKeys[i]) << "position " << i << ": " << name;
        names.insert(name);
        if (i != 61) {  // the second biz is never reached
            EXPECT_EQ(Select(std::string("example.") + kKeys[i]), name) << kKeys[i];
        }
    }
    EXPECT_EQ(names.size(), kWhoisServerCount) << "biz stands twice, with two different servers";

    char area[kWhoisHostSize] = "unchanged";
    EXPECT_FALSE(FetchWhoisServer(65, area, sizeof area));
    EXPECT_FALSE(FetchWhoisServer(0, area, 4)) << "an area too small for the name";
    EXPECT_STREQ(area, "unchanged");
}

TEST(WhoisServerTable, SelectsByLastLabelExactly)
{
    const std::pair<const char*, std::string> cases[] = {
        {"example.co.uk", Entry(21)},
        {"EXAMPLE.CO.UK", Entry(64)},  // case-sensitive
        {"example.org", Entry(64)},
        {"example.com.", Entry(64)},   // the extension is the dot alone
        {"example.u", Entry(64)},      // a key is matched whole, not as a prefix
        {"example.xuk", Entry(64)},
        {"localhost", "(fails)"},
        {"", "(fails)"},
    };
    for (const auto& [query, server] : cases)
        EXPECT_EQ(Select(query), server) << query;
}

TEST(WhoisServerTable, ServerListHoldsTheTableAndTheRegistries)
{
    const std::set<std::string_view> list(WhoisServerList().begin(), WhoisServerList().end());
    EXPECT_EQ(list.size(), WhoisServerList().size()) << "no name twice";
    for (std::size_t i = 0; i < kWhoisServerCount; ++i)
        EXPECT_TRUE(list.count(Entry(i))) << Entry(i);
    for (auto rir : {"whois.arin.net", "whois.ripe.net", "whois.apnic.net", "whois.lacnic.net", "whois.afrinic.net"})
        EXPECT_TRUE(list.count(rir)) << rir;
}

TEST(WhoisAnswer, EveryLineFeedGetsACarriageReturn)
{
    EXPECT_EQ(WhoisAnswerText(""), "");
    EXPECT_EQ(WhoisAnswerText("a\nb\n\n"), "a\r\nb\r\n\r\n");
    EXPECT_EQ(WhoisAnswerText("a\r\nb"), "a\r\r\nb") << "a CR LF from the server keeps its CR";
    EXPECT_EQ(WhoisAnswerText(std::string("\0\n\xff", 3)), std::string("\0\r\n\xff", 4));
}

TEST(WhoisReferral, ReadFromTheAnswerText)
{
    auto read = [](const std::string& received) -> std::string {
        const WhoisReferral r = FindWhoisReferral(WhoisAnswerText(received));
        if (r.kind != ReferralKind::Server)
            return r.kind == ReferralKind::None ? "none" : "unusable";
        return r.server.host + " " + std::to_string(r.server.port);
    };
    const std::string x = "NetRange: x\n\nReferralServer: ";
    const std::pair<std::string, std::string> cases[] = {
        {x + "rwhois://rwhois.example.net:4321\n\nmore\n", "rwhois.example.net 4321"},
        {x + "whois://whois.ripe.net\n", "whois.ripe.net 43"},
        {x + "whois.example.org:4343\n", "whois.example.org 4343"},  // no scheme: host[:port]
        {x + "whois://whois.example.org", "whois.example.org 43"},    // no line end
        {x + "  whois://whois.example.org  \n", "whois.example.org 43"},
        {x + "a://b://c\n", "b 0"},  // only the first scheme is dropped
        {x + "whois://h:4321x\n", "h 4321"},  // the digits at the start
        {x + "whois://h:65535\n", "h 65535"},
        {x + "whois://h:x\n", "h 0"},
        {x + "whois://h:70000\n", "h 0"},  // not a port; never wrapped round to another
        {x + "whois://h:99999999999999999999\n", "h 0"},
        {x + "whois://" + std::string(255, 'h') + "\n", std::string(255, 'h') + " 43"},
        {x + "whois://" + std::string(256, 'h') + "\n", "unusable"},  // does not fit the host area
        {x + "\n", "unusable"},
        {x + "whois://\n", "unusable"},
        {x + "whois://:43\n", "unusable"},
        {"ReferralServer: whois://a\n", "none"},  // only after an empty line
        {"x\nReferralServer: whois://a\n", "none"},
        {"x\n\nreferralserver: whois://a\n", "none"},
        {"x\r\n\r\nReferralServer: whois://a\r\n", "none"},  // CR LF became CR CR LF: no marker
    };
    for (const auto& [received, referral] : cases)
        EXPECT_EQ(read(received), referral) << received;
}

TEST(WhoisReferral, SameServerIgnoresCaseAndFinalDot)
{
    EXPECT_TRUE(SameWhoisServer({"whois.ARIN.net.", 43}, {"Whois.arin.net", 43}));
    EXPECT_FALSE(SameWhoisServer({"whois.arin.net", 43}, {"whois.arin.net", 4321}));
    EXPECT_FALSE(SameWhoisServer({"whois.arin.net", 43}, {"whois.arin.ne", 43}));
}
