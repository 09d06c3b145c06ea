// Whois answers as a server may send them: the shown text, the referral line
// and the table look-up of whatever a user may type.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "whois/WhoisAnswer.h"
#include "whois/WhoisServerTable.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// A server to ask has a host that fits, holds no line end and no port, and a port or 0.
void CheckReferral(const WhoisReferral& r)
{
    const std::string& host = r.server.host;
    Check(r.kind != ReferralKind::Server || (!host.empty() && host.size() < kWhoisHostSize && host.find("\r\n") == std::string::npos &&
                                             host.find(':') == std::string::npos && r.server.port >= 0 && r.server.port <= 65535));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view received(reinterpret_cast<const char*>(data), size);

    const std::string text = WhoisAnswerText(received);
    const auto lineFeeds = static_cast<std::size_t>(std::count(received.begin(), received.end(), '\n'));
    Check(text.size() == size + lineFeeds);
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n')
            Check(i > 0 && text[i - 1] == '\r');

    CheckReferral(FindWhoisReferral(text));
    CheckReferral(FindWhoisReferral(received));

    char area[kWhoisHostSize];
    const bool selected = SelectWhoisServer(received, area, sizeof area);
    Check(selected == (received.find('.') != std::string_view::npos));
    Check(std::string_view(area).size() < kWhoisHostSize);
    return 0;
}
