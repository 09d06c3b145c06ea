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
    if (!SelectWhoisServer(query, area, sizeof area))
        return "(fails)";
    return area;
}

}  // namespace

TEST(WhoisServerTable, EachEntryEndsInItsKey)
{
    std::set<std::string> names;
    for (std::size_t i = 0; i < kWhoisServerCount; ++i) {
        const std::string name = Entry(i);
        EXPECT_EQ(name.substr(name.rfind('.') + 1), kKeys[i]) << "position " << i << ": " << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), kWhoisServerCount) << "biz stands twice, with two different servers";

    char area[kWhoisHostSize] = "unchanged";
    EXPECT_FALSE(FetchWhoisServer(65, area, sizeof area));
    EXPECT_FALSE(FetchWhoisServer(0, area, 4)) << "an area too small for the name";
    EXPECT_STREQ(area, "unchanged");
}

TEST(WhoisServerTable, SelectsByLastLabelExactly)
{
    // The first position of each key is the one a query reaches.
    for (std::size_t i = 0; i < kWhoisServerCount; ++i) {
        if (i == 61)
            continue;
        EXPECT_EQ(Select(std::string("example.") + kKeys[i]), Entry(i)) << kKeys[i];
    }
    EXPECT_EQ(Select("example.co.uk"), Entry(21));
    EXPECT_EQ(Select("EXAMPLE.CO.UK"), Entry(64)) << "case-sensitive";
    EXPECT_EQ(Select("example.biz"), Entry(60));
    EXPECT_EQ(Select("example.org"), Entry(64));
    EXPECT_EQ(Select("example.net"), Entry(64));
    EXPECT_EQ(Select("example.com."), Entry(64)) << "the extension is the dot alone";
    EXPECT_EQ(Select("example.u"), Entry(64)) << "a key is matched whole, not as a prefix";
    EXPECT_EQ(Select("example.xuk"), Entry(64));
    EXPECT_EQ(Select("localhost"), "(fails)");
    EXPECT_EQ(Select(""), "(fails)");
}

TEST(WhoisServerTable, ServerListHoldsTheTableAndTheRegistries)
{
    std::set<std::string_view> list(WhoisServerList().begin(), WhoisServerList().end());
    EXPECT_EQ(WhoisServerList().size(), kWhoisServerListSize);
    EXPECT_EQ(list.size(), kWhoisServerListSize) << "no name twice";
    for (std::size_t i = 0; i < kWhoisServerCount; ++i)
        EXPECT_TRUE(list.count(Entry(i))) << Entry(i);
    for (auto rir : {"whois.arin.net", "whois.ripe.net", "whois.apnic.net", "whois.lacnic.net", "whois.afrinic.net"})
        EXPECT_TRUE(list.count(rir)) << rir;
    EXPECT_TRUE(list.count(kAddressWhoisServer));
    for (auto name : list)
        EXPECT_LT(name.size(), kWhoisHostSize);
}

TEST(WhoisAnswer, EveryLineFeedGetsACarriageReturn)
{
    EXPECT_EQ(WhoisAnswerText(""), "");
    EXPECT_EQ(WhoisAnswerText("a\nb\n\n"), "a\r\nb\r\n\r\n");
    EXPECT_EQ(WhoisAnswerText("a\r\nb"), "a\r\r\nb") << "a CR LF from the server keeps its CR";
    EXPECT_EQ(WhoisAnswerText(std::string("\0\n\xff", 3)), std::string("\0\r\n\xff", 4));
}

TEST(WhoisReferral, SchemeHostAndPort)
{
    auto refer = [](const std::string& tail) { return FindWhoisReferral(WhoisAnswerText("NetRange: x\n\nReferralServer: " + tail)); };

    WhoisReferral r = refer("rwhois://rwhois.example.net:4321\n\nmore\n");
    EXPECT_EQ(r.kind, ReferralKind::Server);
    EXPECT_EQ(r.server.host, "rwhois.example.net");
    EXPECT_EQ(r.server.port, 4321);

    r = refer("whois://whois.ripe.net\n");
    EXPECT_EQ(r.server.host, "whois.ripe.net");
    EXPECT_EQ(r.server.port, 43);

    r = refer("whois.example.org:4343\n");
    EXPECT_EQ(r.kind, ReferralKind::Server) << "no scheme: host[:port]";
    EXPECT_EQ(r.server.host, "whois.example.org");
    EXPECT_EQ(r.server.port, 4343);

    r = refer("whois://whois.example.org");
    EXPECT_EQ(r.server.host, "whois.example.org") << "a referral on the last line without a line end";

    r = refer("  whois://whois.example.org  \n");
    EXPECT_EQ(r.server.host, "whois.example.org");

    EXPECT_EQ(refer("whois://h:4321x\n").server.port, 4321) << "the digits at the start";
    EXPECT_EQ(refer("whois://h:x\n").server.port, 0);
    EXPECT_EQ(refer("whois://h:70000\n").server.port, 0) << "not a port; never wrapped round to another";
    EXPECT_EQ(refer("whois://h:99999999999999999999\n").server.port, 0);
    EXPECT_EQ(refer("whois://h:65535\n").server.port, 65535);
    EXPECT_EQ(refer("a://b://c\n").server.host, "b") << "only the first scheme is dropped";
}

TEST(WhoisReferral, OnlyAfterAnEmptyLineAndOnlyWhatFits)
{
    EXPECT_EQ(FindWhoisReferral(WhoisAnswerText("ReferralServer: whois://a\n")).kind, ReferralKind::None);
    EXPECT_EQ(FindWhoisReferral(WhoisAnswerText("x\nReferralServer: whois://a\n")).kind, ReferralKind::None);
    EXPECT_EQ(FindWhoisReferral(WhoisAnswerText("x\r\n\r\nReferralServer: whois://a\r\n")).kind, ReferralKind::None)
        << "CR LF answers become CR CR LF, where the marker no longer occurs";
    EXPECT_EQ(FindWhoisReferral(WhoisAnswerText("x\n\nreferralserver: whois://a\n")).kind, ReferralKind::None);

    auto kind = [](const std::string& value) { return FindWhoisReferral(WhoisAnswerText("x\n\nReferralServer: " + value + "\n")).kind; };
    EXPECT_EQ(kind(""), ReferralKind::Unusable);
    EXPECT_EQ(kind("whois://"), ReferralKind::Unusable);
    EXPECT_EQ(kind("whois://:43"), ReferralKind::Unusable);
    EXPECT_EQ(kind("whois://" + std::string(255, 'h')), ReferralKind::Server);
    EXPECT_EQ(kind("whois://" + std::string(256, 'h')), ReferralKind::Unusable) << "a host that does not fit is refused";
}

TEST(WhoisReferral, SameServerIgnoresCaseAndFinalDot)
{
    EXPECT_TRUE(SameWhoisServer({"whois.ARIN.net.", 43}, {"Whois.arin.net", 43}));
    EXPECT_FALSE(SameWhoisServer({"whois.arin.net", 43}, {"whois.arin.net", 4321}));
    EXPECT_FALSE(SameWhoisServer({"whois.arin.net", 43}, {"whois.arin.ne", 43}));
}

