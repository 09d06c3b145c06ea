// One DNS exchange over UDP (RFC 1035, section 4.2.1), over IPv4 or IPv6 as
// the server's address is: a single query datagram to port 53, a single reply
// of at most kDnsReplySize bytes; a truncated reply is followed by the same
// exchange over TCP (section 4.2.2).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "dns/DnsMessage.h"
#include "os/Fd.h"
#include "os/PollWait.h"
#include "os/SocketIo.h"

namespace {

// Waits for the first datagram and receives it into reply; its length, or
// nullopt when the wait ends without one (time-out, cancel, a receive error
// or a datagram larger than the reply area).
std::optional<std::size_t> ReceiveReply(int fd, std::uint8_t* reply, std::size_t size, const CancelToken* token,
                                        std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        if (WaitForFd(fd, POLLIN, token, deadline) != WaitResult::Ready)
            return std::nullopt;
        // MSG_TRUNC gives the datagram's real length, so one too big is seen as such.
        ssize_t n = ::recv(fd, reply, size, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            continue;  // an empty datagram is not the reply
        if (std::size_t(n) > size)
            return std::nullopt;
        return std::size_t(n);
    }
}

// The same query over TCP (RFC 1035, section 4.2.2: each message behind its
// two-byte length) to server; the reply's length, or nullopt.
std::optional<std::size_t> ExchangeOverTcp(const IpAddress& server, std::uint16_t port,
                                           const std::vector<std::uint8_t>& query, std::uint8_t* reply,
                                           std::size_t size, const CancelToken* token,
                                           std::chrono::steady_clock::time_point deadline)
{
    Fd sock = OpenTcpSocket(server.Family());
    if (sock.Get() < 0 || ConnectToAddress(sock.Get(), server, port, token, deadline) != WaitResult::Ready)
        return std::nullopt;
    std::vector<std::uint8_t> framed{std::uint8_t(query.size() >> 8), std::uint8_t(query.size())};
    framed.insert(framed.end(), query.begin(), query.end());
    const auto stall = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (SendAll(sock.Get(), {reinterpret_cast<const char*>(framed.data()), framed.size()}, token, stall, deadline) !=
        WaitResult::Ready)
        return std::nullopt;
    std::uint8_t prefix[2];
    if (ReceiveAll(sock.Get(), prefix, sizeof prefix, token, deadline) != WaitResult::Ready)
        return std::nullopt;
    const std::size_t length = std::size_t(prefix[0] << 8 | prefix[1]);
    if (length == 0 || length > size || ReceiveAll(sock.Get(), reply, length, token, deadline) != WaitResult::Ready)
        return std::nullopt;
    return length;
}

}  // namespace

DnsQueryResult RunDnsQuery(DnsRequest* request, const CancelToken* token, std::uint16_t port)
{
    if (!request)
        return DnsQueryResult::NoRequest;
    const std::int32_t capacity = request->count;
    request->count = 0;

    const IpAddress& target = request->server;
    Fd sock = OpenSocket(target.Family(), SOCK_DGRAM, IPPROTO_UDP);
    if (sock.Get() < 0)
        return DnsQueryResult::NoSocket;
    // Any local address of the server's family, port 0.
    sockaddr_storage local{};
    local.ss_family = sa_family_t(target.Family());
    const socklen_t localLength = target.IsV6() ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(sock.Get(), reinterpret_cast<const sockaddr*>(&local), localLength) != 0)
        return DnsQueryResult::BindFailed;

    const std::vector<std::uint8_t> query =
        BuildDnsQuery(request->id, request->type, request->name, request->recursionDesired != 0);
    if (query.empty())
        return DnsQueryResult::NoQuery;

    // Address 0 (or ::) is what an unresolvable server name gives; Linux would
    // take it for this host, so it is refused as a send to nowhere, as are
    // all ones and multicast, which no single server answers from.
    if (target.IsNeverAHost())
        return DnsQueryResult::SendFailed;
    // Connecting the socket makes the kernel drop datagrams from any other
    // source, so only the server asked can supply the reply.
    sockaddr_storage server;
    const socklen_t serverLength = target.ToSockaddr(port, server);
    if (::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&server), serverLength) != 0)
        return DnsQueryResult::SendFailed;
    ssize_t sent;
    do
        sent = ::send(sock.Get(), query.data(), query.size(), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent != ssize_t(query.size()))
        return DnsQueryResult::SendFailed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(request->timeoutMs);

    std::uint8_t reply[kDnsReplySize];
    const auto length = ReceiveReply(sock.Get(), reply, sizeof reply, token, deadline);
    if (!length)
        return DnsQueryResult::NoReply;

    request->count = capacity;
    if (!ParseDnsReply(reply, *length, query.size() - 12, *request))
        return DnsQueryResult::NoReply;
    if (!request->truncated)
        return DnsQueryResult::Answered;

    // The answer did not fit a datagram: ask again where it fits.
    std::vector<std::uint8_t> whole(0xFFFF);
    const auto tcpLength = ExchangeOverTcp(target, port, query, whole.data(), whole.size(), token,
                                           std::chrono::steady_clock::now() +
                                               std::chrono::milliseconds(request->timeoutMs));
    if (!tcpLength) {
        request->count = 0;
        request->stored = 0;
        return DnsQueryResult::NoReply;
    }
    request->count = capacity;
    const bool parsed = ParseDnsReply(whole.data(), *tcpLength, query.size() - 12, *request);
    return parsed ? DnsQueryResult::Answered : DnsQueryResult::NoReply;
}
