#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/PollWait.h"

class CancelToken;

// An IPv4 or an IPv6 address. An IPv4 address keeps its four bytes in network
// order; an IPv6 one its sixteen and, for a link-local address, the index of
// the interface of its zone. A default IpAddress is none at all.
class IpAddress {
public:
    IpAddress() = default;
    static IpAddress V4(std::uint32_t networkOrder);
    static IpAddress V6(const in6_addr& address, std::uint32_t scope = 0);
    // The address of an AF_INET or AF_INET6 socket address, and its port in
    // host order; none for any other family or a short length.
    static IpAddress FromSockaddr(const sockaddr* address, socklen_t length, std::uint16_t* port = nullptr);

    int Family() const { return family_; }
    bool IsNone() const { return family_ == AF_UNSPEC; }
    bool IsV4() const { return family_ == AF_INET; }
    bool IsV6() const { return family_ == AF_INET6; }
    std::uint32_t V4() const;  // network byte order; 0 for IPv6
    in6_addr V6() const;
    std::uint32_t Scope() const { return scope_; }
    const std::uint8_t* Bytes() const { return bytes_.data(); }
    std::size_t Size() const { return IsV4() ? 4 : IsV6() ? 16 : 0; }

    // Never a host to connect to: none, IPv4 0 and all ones, IPv6 :: and
    // multicast.
    bool IsNeverAHost() const;

    // The socket address of this address and port (host order), and its length;
    // 0 for none.
    socklen_t ToSockaddr(std::uint16_t port, sockaddr_storage& out) const;

    friend bool operator==(const IpAddress&, const IpAddress&) = default;

private:
    int family_ = AF_UNSPEC;
    std::array<std::uint8_t, 16> bytes_{};
    std::uint32_t scope_ = 0;
};

// Connects fd (a socket of address's family) to address and port, as
// ConnectWithin does: Ready once connected.
WaitResult ConnectToAddress(int fd, const IpAddress& address, std::uint16_t port, const CancelToken* token,
                            std::chrono::steady_clock::time_point deadline);

// An IPv6 literal as a user types it: with or without brackets, and with a
// zone (an interface name or index after %) for a link-local address.
std::optional<IpAddress> ParseIpv6Literal(std::string_view text);

// Dotted IPv4 text (four decimal parts, nothing else) or an IPv6 literal.
std::optional<IpAddress> ParseIpLiteral(std::string_view text);

// The address as the pages print it: dotted for IPv4; for IPv6 the RFC 5952
// form (lower case, the longest run of zero groups as ::), with %zone (the
// interface's name, else its index) when it has one. Empty for none.
std::string IpText(const IpAddress& address);

// The address and a port written together: 192.0.2.1:25, [2001:db8::1]:25.
std::string IpPortText(const IpAddress& address, std::uint16_t port);

// The name a PTR query asks for: 4.3.2.1.in-addr.arpa, or the 32 nibbles of
// an IPv6 address under ip6.arpa. Empty for none.
std::string ReverseLookupName(const IpAddress& address);

// Every address the system resolver gives for name, of family (AF_INET,
// AF_INET6 or AF_UNSPEC for both): the IPv4 ones first, then the IPv6 ones,
// each in the resolver's order, without repeats; empty when it gives none.
// With a token the look-up runs on a thread of its own and the caller waits
// beside the token until the deadline (cancelled or out of time: empty at
// once, and the look-up finishes alone), because the resolver cannot be
// interrupted.
std::vector<IpAddress> ResolveHostAddresses(
    const char* name, int family = AF_UNSPEC, const CancelToken* token = nullptr,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// The host name the system resolver gives for address (in-addr.arpa or
// ip6.arpa, or the hosts file); empty when it gives none. Waits beside token
// as ResolveHostAddresses does.
std::string ResolveAddressName(
    const IpAddress& address, const CancelToken* token = nullptr,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// The host a user typed, as the tools take it: an IPv6 literal as it is; a
// text that begins with a decimal digit as a dotted IPv4 address, never looked
// up (all ones when it is not one); any other text through the resolver, its
// first IPv4 address, else its first IPv6 one. None when nothing answers.
IpAddress LookupHost(std::string_view text, const CancelToken* token = nullptr,
                     std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
