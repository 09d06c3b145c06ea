// What the echo probe and the privilege helper read from others: received ICMP(v6) datagrams, raw (IPv4 header first)
// and from a datagram socket, and the helper's messages, whose parsers give back exactly what formats to the input.
#include <cstdlib>
#include <cstring>

#include "icmp/EchoProbe.h"
#include "privilege/NetcapRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t destination = 0;
    if (size >= 48)
        std::memcpy(&destination, data + 44, 4);  // where a router's report quotes the echo's destination
    ParseRawIcmpAnswer({data, size}, destination, 0x1234, 0x0102);
    IsDatagramEchoReply({data, size}, 0x0102);
    ParseRawIcmp6Answer({data, size}, IpAddress::V6({}), 64, IpAddress::V6({}), 0x1234, 0x0102);  // :: quoted as zeros
    IsDatagramEchoReply({data, size}, 0x0102, AF_INET6);

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> rest;
    const auto request = ParseNetcapRequest(text);
    const auto ask = ParseNetcapEchoAsk(data, size, rest);
    if ((request && FormatNetcapRequest(*request) != text) ||
        (ask && FormatNetcapEchoAsk(*ask, rest.data(), rest.size()) != std::vector<std::uint8_t>(data, data + size)))
        std::abort();
    ParseNetcapReply(text);
    ParseNetcapEchoAnswer(data, size, rest);
    if (const auto frame = ParseNetcapFrameHead(data, size); frame && frame->originalLength + kNetcapFrameHead < size)
        std::abort();
    return 0;
}
