#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/IcmpLibrary.h"
#include "privilege/NetcapClient.h"

// The Linux echo component behind IcmpLibrary: the three operations of the
// platform's echo library on an ICMP socket.
//
// Open tries, in this order: an ICMP datagram socket (allowed where the
// caller's group is inside net.ipv4.ping_group_range; the kernel then owns the
// identifier and reports routers' errors through IP_RECVERR), a raw ICMP
// socket of the process's own (root or CAP_NET_RAW), and the privilege
// helper's echo session, where the helper sends each echo from its own raw
// socket through this same code and answers with the record. Send writes one echo with the caller's
// time-to-live and data and waits for the answer to that echo alone, matched
// by identifier and sequence, while also watching the calling thread's cancel
// token (ThreadCancel.h). Close releases the socket.

// The status an ICMP error report of this type and code stands for; 0 for
// types that never answer an echo (the caller keeps waiting).
std::uint32_t StatusOfIcmpReport(int type, int code);

// What answered one echo.
struct IcmpAnswer {
    std::uint32_t from = 0;    // network byte order
    std::uint32_t status = 0;
    std::uint8_t ttl = 0;      // of the answering packet; 0 where unknown
    std::size_t dataOffset = 0;  // echo reply: where its data starts in the datagram
    std::size_t dataSize = 0;
};

// One datagram of a raw ICMP socket, IP header first. True when it answers the
// echo with this identifier and sequence sent to destination: its echo reply,
// or an error report quoting that very echo. Everything else (the request's
// own copy on loopback, other programs' traffic, short or malformed packets)
// is false.
bool ParseRawIcmpAnswer(const std::uint8_t* data, std::size_t size, std::uint32_t destination,
                        std::uint16_t identifier, std::uint16_t sequence, IcmpAnswer* answer);

// One datagram of an ICMP datagram socket, ICMP header first; the kernel has
// already matched the identifier. True for the echo reply of sequence.
bool ParseDatagramEchoReply(const std::uint8_t* data, std::size_t size, std::uint16_t sequence,
                            IcmpAnswer* answer);

// Why the last open on the calling thread found no socket; None after a
// success. Like errno, it belongs to the thread.
PrivilegeFailure LastIcmpOpenFailure();

// A handle of the echo component over a raw ICMP socket the caller opened
// (the helper's); the component owns the socket from here on.
IcmpHandle WrapRawEchoSocket(int fd);
