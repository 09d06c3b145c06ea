// Received ICMP datagrams, raw (IP header first) and from a datagram socket.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/IcmpEchoSocket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    IcmpAnswer answer;
    std::uint32_t destination = 0;
    if (size >= 48)
        std::memcpy(&destination, data + 44, 4);  // where a router's report quotes the echo's destination
    if (ParseRawIcmpAnswer(data, size, destination, 0x1234, 0x0102, &answer) && answer.dataSize > 0) {
        volatile std::uint8_t last = data[answer.dataOffset + answer.dataSize - 1];
        (void)last;
    }
    ParseDatagramEchoReply(data, size, 0x0102, &answer);
    return 0;
}
