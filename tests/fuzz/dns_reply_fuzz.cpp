// The whole parse of a reply to a fixed query, then the text of every stored
// record: no read outside the reply, no hang, texts within their 1000 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dns/DnsMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::size_t questionLength = BuildDnsQuery(1234, kDnsTypeA, "host1.example.test", true).size() - 12;
    // The reply area of the exchange: a larger datagram never reaches the parse.
    if (size > kDnsReplySize)
        return 0;
    // A copy of exactly the received length, so that AddressSanitizer sees any overread.
    std::vector<std::uint8_t> reply(data, data + size);

    static DnsRecord records[50];
    DnsRequest request{};
    request.count = 50;
    request.records = records;
    if (!ParseDnsReply(reply.data(), reply.size(), questionLength, request))
        return 0;
    const int stored = request.count < 50 ? request.count : 50;
    for (int i = 0; i < stored; ++i) {
        char text[1000];
        const int n = FormatDnsRecord(records[i], text, sizeof text);
        if (n < 0 || n >= int(sizeof text) || std::strlen(records[i].name) > 255 || std::strlen(records[i].name2) > 255)
            std::abort();
    }
    return 0;
}
