#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Whois (RFC 3912): the client sends one line, the server answers with text
// and closes the connection. Registries that hand a query on to another server
// say so in a line of its own after an empty line:
//
//   ...\n
//   \n
//   ReferralServer: whois://whois.example.net\n      scheme://host
//   ReferralServer: rwhois://rwhois.example.net:4321\n   scheme://host:port
//
// The answer is shown with every "\n" turned into "\r\n", and the referral is
// looked for in that text.

inline constexpr int kWhoisPort = 43;
// Areas of a query, terminator included.
inline constexpr std::size_t kWhoisQueryTextSize = 300;
inline constexpr std::size_t kWhoisHostSize = 256;
inline constexpr std::size_t kWhoisLineSize = 256;
// An answer this long or longer is refused.
inline constexpr std::size_t kWhoisAnswerSize = 10000;

struct WhoisServer {
    std::string host;
    int port = kWhoisPort;  // 0 when a referral named no usable port
};

// The received bytes as shown: every "\n" becomes "\r\n", so a line end of
// CR LF sent by the server keeps its CR before the new one.
std::string WhoisAnswerText(std::string_view received);

enum class ReferralKind {
    None,      // no referral line
    Server,    // a server to ask next
    Unusable,  // a referral whose host is empty or does not fit the host area
};

struct WhoisReferral {
    ReferralKind kind = ReferralKind::None;
    WhoisServer server;
};

// The referral of an answer text (after WhoisAnswerText). The value runs from
// the marker to the next "\r\n" or the end of the text, blanks around it
// ignored. Everything up to and including the first "://" is the scheme; a
// value without one is host[:port]. The port is the decimal number at the
// start of what follows the first ":" (43 without a ":"); one outside 1..65535
// is given as 0. An IPv6 address stands in brackets ([2001:db8::1]:4321), or
// alone without a port.
WhoisReferral FindWhoisReferral(std::string_view answerText);

// Whether two servers are the same: host names compared ignoring case and a
// final dot, and the same port.
bool SameWhoisServer(const WhoisServer& a, const WhoisServer& b);
