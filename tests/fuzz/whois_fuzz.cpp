// Whois answers as a server may send them: the shown text, the referral line
// and the table look-up of whatever a user may type.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "whois/WhoisAnswer.h"
#include "whois/WhoisServerTable.h"

static void Check(bool condition) { if (!condition) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    const std::string text = WhoisAnswerText(received);
    Check(text.size() == size + std::size_t(std::count(received.begin(), received.end(), '\n')));
    for (std::size_t i = 0; i < text.size(); ++i)
        Check(text[i] != '\n' || (i > 0 && text[i - 1] == '\r'));
    // A server to ask has a host that fits, holds no line end and no port, and a port or 0.
    for (const WhoisReferral& r : {FindWhoisReferral(text), FindWhoisReferral(received)}) {
        const std::string& host = r.server.host;
        Check(r.kind != ReferralKind::Server || (!host.empty() && host.size() < kWhoisHostSize && host.find("\r\n") == std::string::npos &&
                                                 host.find(':') == std::string::npos &&
                                                 r.server.port >= 0 && r.server.port <= 65535));
    }
    char area[kWhoisHostSize];
    Check(SelectWhoisServer(received, area, sizeof area) == (received.find('.') != std::string_view::npos));
    Check(std::string_view(area).size() < kWhoisHostSize);
    return 0;
}
