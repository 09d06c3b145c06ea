#include "whois/WhoisAnswer.h"

#include <algorithm>

#include "net/IpAddress.h"

namespace {

constexpr std::string_view kReferralMarker = "\r\n\r\nReferralServer: ";

std::string_view TrimBlanks(std::string_view s)
{
    constexpr std::string_view blanks = " \t\r";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Decimal digits at the start of text as a port; 0 when there are none or the
// number is no port.
int LeadingPort(std::string_view text)
{
    long value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 65535)
            return 0;
    }
    return static_cast<int>(value);
}

std::string_view WithoutFinalDot(std::string_view host)
{
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    return host;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string WhoisAnswerText(std::string_view received)
{
    std::string text;
    text.reserve(received.size() + static_cast<std::size_t>(std::count(received.begin(), received.end(), '\n')));
    for (char c : received) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    return text;
}

WhoisReferral FindWhoisReferral(std::string_view answerText)
{
    const auto marker = answerText.find(kReferralMarker);
    if (marker == std::string_view::npos)
        return {};
    std::string_view value = answerText.substr(marker + kReferralMarker.size());
    if (const auto end = value.find("\r\n"); end != std::string_view::npos)
        value = value.substr(0, end);
    value = TrimBlanks(value);
    if (const auto scheme = value.find("://"); scheme != std::string_view::npos)
        value.remove_prefix(scheme + 3);

    WhoisReferral referral;
    std::string_view host = value;
    referral.server.port = kWhoisPort;
    if (value.starts_with('[')) {
        // An IPv6 address in brackets, then perhaps ":port".
        const auto close = value.find(']');
        host = close == std::string_view::npos ? std::string_view() : value.substr(1, close - 1);
        if (close != std::string_view::npos && value.substr(close + 1).starts_with(':'))
            referral.server.port = LeadingPort(value.substr(close + 2));
    } else if (ParseIpv6Literal(value)) {
        // An IPv6 address without brackets has no room for a port.
    } else if (const auto colon = value.find(':'); colon != std::string_view::npos) {
        host = value.substr(0, colon);
        referral.server.port = LeadingPort(value.substr(colon + 1));
    }
    if (host.empty() || host.size() >= kWhoisHostSize) {
        referral.kind = ReferralKind::Unusable;
        return referral;
    }
    referral.kind = ReferralKind::Server;
    referral.server.host = std::string(host);
    return referral;
}

bool SameWhoisServer(const WhoisServer& a, const WhoisServer& b)
{
    const std::string_view x = WithoutFinalDot(a.host), y = WithoutFinalDot(b.host);
    return a.port == b.port &&
           std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) { return Lower(p) == Lower(q); });
}
