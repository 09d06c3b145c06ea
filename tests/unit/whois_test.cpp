// The whois server table and the referral line.
#include <gtest/gtest.h>

#include <string>

#include "whois/WhoisAnswer.h"
#include "whois/WhoisQuery.h"
#include "whois/WhoisServerTable.h"

namespace {

std::string Entry(std::size_t position)
{
    char area[kWhoisHostSize] = "";
    return FetchWhoisServer(position, area, sizeof area) ? area : "(none)";
}

std::string Select(const std::string& query)
{
    char area[kWhoisHostSize] = "";
    return SelectWhoisServer(query, area, sizeof area) ? area : "(fails)";
}

}  // namespace

TEST(WhoisServerTable, SelectsByLastLabelExactly)
{
    const std::pair<const char*, std::string> cases[] = {
        {"example.co.uk", Entry(21)}, {"EXAMPLE.CO.UK", Entry(64)} /* case-sensitive */, {"example.org", Entry(64)},
        {"example.com.", Entry(64)} /* the extension is the dot alone */, {"example.u", Entry(64)} /* matched whole */,
        {"localhost", "(fails)"}, {"", "(fails)"}};
    for (const auto& [query, server] : cases)
        EXPECT_EQ(Select(query), server) << query;
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
        {x + "  whois://whois.example.org  ", "whois.example.org 43"},  // no line end
        {x + "a://b://c\n", "b 0"},  // only the first scheme is dropped
        {x + "whois://h:4321x\n", "h 4321"},  // the digits at the start
        {x + "whois://h:x\n", "h 0"},
        {x + "whois://h:70000\n", "h 0"},  // not a port; never wrapped round to another
        {x + "whois://2001:db8::1\n", "2001:db8::1 43"},
        {x + "whois://" + std::string(255, 'h') + "\n", std::string(255, 'h') + " 43"},
        {x + "whois://" + std::string(256, 'h') + "\n", "unusable"},  // does not fit the host area
        {x + "\n", "unusable"},
        {x + "whois://:43\n", "unusable"},
        {"ReferralServer: whois://a\n", "none"},  // only after an empty line
        {"x\n\nreferralserver: whois://a\n", "none"},
        {"x\r\n\r\nReferralServer: whois://a\r\n", "none"},  // CR LF became CR CR LF: no marker
    };
    for (const auto& [received, referral] : cases)
        EXPECT_EQ(read(received), referral) << received;
}
