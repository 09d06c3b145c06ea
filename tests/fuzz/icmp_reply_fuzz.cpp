// Received ICMP datagrams, raw (IP header first) and from a datagram socket.
#include <cstring>

#include "icmp/EchoProbe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t destination = 0;
    if (size >= 48)
        std::memcpy(&destination, data + 44, 4);  // where a router's report quotes the echo's destination
    ParseRawIcmpAnswer({data, size}, destination, 0x1234, 0x0102);
    IsDatagramEchoReply({data, size}, 0x0102);
    return 0;
}
