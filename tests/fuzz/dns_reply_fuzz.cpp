// A reply to a fixed query: the parse, every record's text, each name decoded from every offset into an
// area sized by the first byte: no read outside the reply, no hang, texts within their areas.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dns/DnsMessage.h"

static void Check(bool condition) { if (!condition) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::size_t questionLength = BuildDnsQuery(1234, kDnsTypeA, "host1.example.test", true).size() - 12;
    if (size == 0 || size > kDnsReplySize)  // a larger datagram never reaches the parse
        return 0;
    const std::vector<std::uint8_t> reply(data, data + size);  // exactly the received length
    const std::size_t outSize = data[0] % 300;
    std::vector<char> out(outSize + 1, 'X');
    for (std::size_t offset = 0; offset <= size; ++offset) {
        const int length = DecodeDnsName(reply.data(), size, std::uint16_t(offset), outSize ? out.data() : nullptr, outSize);
        Check(length >= 0 && length <= 255 && length == DecodeDnsName(reply.data(), size, std::uint16_t(offset), nullptr, 0));
        // A label may hold zero bytes, so the copy is measured by the cleared rest, not by strlen.
        const std::size_t copied = std::min<std::size_t>(std::size_t(length), outSize ? outSize - 1 : 0);
        Check(out[outSize] == 'X' && (outSize == 0 || std::all_of(&out[copied], &out[outSize], [](char c) { return c == 0; })));
    }
    static DnsRecord records[50];
    DnsRequest request{};
    request.count = 50;
    request.records = records;
    if (!ParseDnsReply(reply.data(), size, questionLength, request))
        return 0;
    for (int i = 0; i < std::min(request.count, 50); ++i) {
        char text[1000];
        const int n = FormatDnsRecord(records[i], text, sizeof text);
        Check(n >= 0 && n < int(sizeof text) && std::strlen(records[i].name) <= 255 && std::strlen(records[i].name2) <= 255);
    }
    return 0;
}
