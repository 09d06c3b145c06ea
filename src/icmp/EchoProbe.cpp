#include "icmp/EchoProbe.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "net/ByteReader.h"
#include "os/PollWait.h"
#include "os/SocketIo.h"
#include "privilege/Privilege.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::uint8_t kIpProtocolIcmp = 1;

constexpr std::uint8_t kIcmp6DestUnreachable = 1;
constexpr std::uint8_t kIcmp6PacketTooBig = 2;
constexpr std::uint8_t kIcmp6TimeExceeded = 3;
constexpr std::uint8_t kIcmp6ParameterProblem = 4;
constexpr std::uint8_t kEcho6Request = 128;
constexpr std::uint8_t kEcho6Reply = 129;
constexpr std::uint8_t kIpProtocolIcmp6 = 58;
constexpr std::size_t kIpv6HeaderSize = 40;

std::uint16_t RandomU16()
{
    std::uint16_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value)
        value = std::uint16_t(getpid() ^ Clock::now().time_since_epoch().count());
    return value;
}

// Echoes of one process (Ping and Traceroute at once) differ by sequence;
// identifiers are random per socket, so that two copies of the program, whose
// raw sockets each see every ICMP packet of the host, keep apart too.
std::atomic<std::uint16_t> g_sequence{RandomU16()};

// What an ICMP error report of this type and code says about an echo; nothing
// for types that never answer one (the probe keeps waiting).
std::optional<EchoStatus> StatusOfIcmpReport(int type, int code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:   // net
        case 6:   // net unknown
        case 9:   // net administratively prohibited
        case 11:  // net unreachable for type of service
            return EchoStatus::NetUnreachable;
        case 2:
            return EchoStatus::ProtocolUnreachable;
        case 3:
            return EchoStatus::PortUnreachable;
        case 4:
            return EchoStatus::FragmentationNeeded;
        case 5:
            return EchoStatus::SourceRouteFailed;
        default:
            return EchoStatus::HostUnreachable;  // host, host unknown or prohibited, communication prohibited
        }
    case kTimeExceeded:
        return code == 1 ? EchoStatus::TtlExpiredReassembly : EchoStatus::TtlExpiredTransit;
    case kParameterProblem:
        return EchoStatus::ParameterProblem;
    case kSourceQuench:
        return EchoStatus::SourceQuench;
    default:
        return std::nullopt;
    }
}

// The same for ICMPv6, mapped onto the IPv4 report that says the same.
std::optional<EchoStatus> StatusOfIcmp6Report(int type, int code)
{
    switch (type) {
    case kIcmp6DestUnreachable:
        switch (code) {
        case 0:  // no route to destination
            return EchoStatus::NetUnreachable;
        case 4:
            return EchoStatus::PortUnreachable;
        default:
            return EchoStatus::HostUnreachable;  // prohibited, address unreachable, policy, reject route
        }
    case kIcmp6PacketTooBig:
        return EchoStatus::FragmentationNeeded;
    case kIcmp6TimeExceeded:
        return code == 1 ? EchoStatus::TtlExpiredReassembly : EchoStatus::TtlExpiredTransit;
    case kIcmp6ParameterProblem:
        return EchoStatus::ParameterProblem;
    default:
        return std::nullopt;
    }
}

// The local stack refusing to send, as a failed echo.
EchoAnswer LocalFailure(int error)
{
    switch (error) {
    case ENETUNREACH:
        return {EchoStatus::NetUnreachable};
    case EHOSTUNREACH:
        return {EchoStatus::HostUnreachable};
    case EMSGSIZE:
        return {EchoStatus::FragmentationNeeded};
    default:
        return {EchoStatus::Failed};
    }
}

// An IPv4 header at offset at carrying ICMP: the offset of its payload.
std::optional<std::size_t> IcmpPayloadOfIp(const ByteReader& in, std::size_t at)
{
    auto versionAndLength = in.U8At(at);
    auto protocol = in.U8At(at + 9);
    if (!versionAndLength || !protocol)
        return std::nullopt;
    std::size_t headerLength = std::size_t(*versionAndLength & 0x0F) * 4;
    if ((*versionAndLength >> 4) != 4 || headerLength < 20 || *protocol != kIpProtocolIcmp ||
        at + headerLength > in.Size())
        return std::nullopt;
    return at + headerLength;
}

// An address at offset at, kept in network byte order.
std::optional<std::uint32_t> AddressAt(const ByteReader& in, std::size_t at)
{
    auto value = in.U32At(at);
    if (!value)
        return std::nullopt;
    return htonl(*value);
}

std::uint16_t Checksum(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        sum += std::uint32_t(bytes[i] << 8 | bytes[i + 1]);
    if (bytes.size() % 2)
        sum += std::uint32_t(bytes.back() << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

// A datagram socket's error queue: a router's report about our echo (its
// round trip roundTripMs), or a local failure to deliver it.
std::optional<EchoAnswer> ReadErrorQueue(int fd, bool v6, std::uint16_t sequence, int roundTripMs)
{
    std::uint8_t quoted[576];
    alignas(cmsghdr) char control[512];
    iovec iov{quoted, sizeof quoted};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0)
        return std::nullopt;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (v6 ? c->cmsg_level != SOL_IPV6 || c->cmsg_type != IPV6_RECVERR
               : c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err error;
        if (c->cmsg_len < CMSG_LEN(sizeof error))
            continue;
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        // The quoted echo is ours unless it says otherwise (routers may quote little).
        const ByteReader in(quoted, std::size_t(n));
        const auto type = in.U8At(0);
        const auto quotedSequence = in.U16At(6);
        if (type && quotedSequence && (*type != (v6 ? kEcho6Request : kEchoRequest) || *quotedSequence != sequence))
            return std::nullopt;
        if (error.ee_origin == (v6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP)) {
            const auto status = v6 ? StatusOfIcmp6Report(error.ee_type, error.ee_code)
                                   : StatusOfIcmpReport(error.ee_type, error.ee_code);
            if (!status)
                return std::nullopt;
            // The offender follows the error, a socket address of the socket's own family.
            const auto* offender = reinterpret_cast<const sockaddr*>(CMSG_DATA(c) + sizeof error);
            const std::size_t room = c->cmsg_len - CMSG_LEN(sizeof error);
            return EchoAnswer{*status, IpAddress::FromSockaddr(offender, socklen_t(room)), roundTripMs};
        }
        if (error.ee_origin == SO_EE_ORIGIN_LOCAL)
            return LocalFailure(int(error.ee_errno));
    }
    return std::nullopt;
}

}  // namespace

EchoProbe::EchoProbe(Fd rawIcmp, Fd rawIcmp6)
{
    ways_[0].opened = ways_[1].opened = true;
    Adopt(ways_[0], AF_INET, std::move(rawIcmp), false);
    Adopt(ways_[1], AF_INET6, std::move(rawIcmp6), false);
}

EchoProbe::~EchoProbe()
{
    if (helper_.fd.Valid())
        CloseNetcapSession(helper_);
}

void EchoProbe::Adopt(Way& way, int family, Fd socket, bool datagram)
{
    const int fd = socket.Get();
    int on = 1;
    if (family == AF_INET6) {
        setsockopt(fd, SOL_IPV6, datagram ? IPV6_RECVERR : IPV6_RECVHOPLIMIT, &on, sizeof on);
        if (!datagram) {
            // As for IPv4 below; the kernel sums ICMPv6 itself on raw sockets.
            icmp6_filter filter;
            ICMP6_FILTER_SETBLOCKALL(&filter);
            for (int type : {kEcho6Reply, kIcmp6DestUnreachable, kIcmp6PacketTooBig, kIcmp6TimeExceeded,
                             kIcmp6ParameterProblem})
                ICMP6_FILTER_SETPASS(type, &filter);
            setsockopt(fd, SOL_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        }
    } else {
        int pmtu = IP_PMTUDISC_DONT;  // echoes may be fragmented on the way
        setsockopt(fd, SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
        if (datagram) {
            setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
        } else {
            // Raw sockets see every ICMP packet of the host: let only the kinds
            // that can answer an echo wake us.
            icmp_filter filter{};
            filter.data = ~((1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kSourceQuench) |
                            (1u << kTimeExceeded) | (1u << kParameterProblem));
            setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        }
    }
    if (!datagram)
        way.identifier = RandomU16();
    way.socket = std::move(socket);
    way.datagram = datagram;
}

void EchoProbe::Open(Way& way, int family, const CancelToken* token)
{
    way.opened = true;
    const int protocol = family == AF_INET6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP);
    if (Fd datagram = OpenSocket(family, SOCK_DGRAM, protocol); datagram.Valid()) {
        Adopt(way, family, std::move(datagram), true);
    } else if (DoesItself(PrivilegedOperation::Echo)) {
        Adopt(way, family, OpenSocket(family, SOCK_RAW, protocol), false);
    } else if (!helperAsked_) {
        // One session serves both families.
        helperAsked_ = true;
        helper_ = OpenNetcapSession(NetcapRequest{NetcapKind::Echo}, token);
        // An answer other than EPERM (no capability) is the helper failing.
        if (!helper_.fd.Valid())
            failure_ = helper_.failure == PrivilegeFailure::None ? PrivilegeFailure::HelperFailed : helper_.failure;
    }
}

// One echo through the helper's session: it sends the echo and waits for its
// answer; this side waits a little longer than the echo's time-out.
EchoAnswer EchoProbe::SendThroughHelper(const EchoRequest& request, const CancelToken* token)
{
    constexpr auto kHelperMargin = std::chrono::milliseconds(3000);
    const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(request.deadline - Clock::now()).count();
    NetcapEchoAsk ask;
    ask.serial = ++serial_;
    SetNetcapEchoAskDestination(ask, request.destination);
    ask.timeoutMs = std::uint32_t(std::clamp<std::int64_t>(timeout, 1, kNetcapMaxEchoTimeoutMs));
    ask.ttl = request.ttl;
    const int fd = helper_.fd.Get();
    const std::vector<std::uint8_t> message = FormatNetcapEchoAsk(ask, request.data.data(), request.data.size());
    // The helper ends the session on an echo it refuses: ask for none.
    std::vector<std::uint8_t> checked;
    if (request.data.size() > kNetcapMaxEchoData || !ParseNetcapEchoAsk(message.data(), message.size(), checked) ||
        send(fd, message.data(), message.size(), MSG_NOSIGNAL) != ssize_t(message.size()))
        return {};
    const auto deadline = Clock::now() + std::chrono::milliseconds(ask.timeoutMs) + kHelperMargin;
    std::uint8_t received[sizeof(NetcapEchoAnswer) + kNetcapMaxEchoData + 1];
    std::vector<std::uint8_t> data;
    for (;;) {
        WaitResult waited = WaitForFd(fd, POLLIN, token, deadline);
        if (waited == WaitResult::Cancelled || waited == WaitResult::TimedOut)
            return {EchoStatus::TimedOut};
        long n = waited == WaitResult::Ready ? ReceiveNetcapMessage(fd, received, sizeof received) : -1;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        auto reply = n > 0 ? ParseNetcapEchoAnswer(received, std::size_t(n), data) : std::nullopt;
        if (!reply || reply->status > std::uint32_t(EchoStatus::Failed))
            return {};  // the helper is gone or said something else: a failed echo
        if (reply->serial != ask.serial)
            continue;  // the answer to an echo given up before
        return {EchoStatus(reply->status), NetcapEchoAnswerAddress(*reply),
                reply->replied ? int(reply->roundTripMs) : -1, std::uint8_t(reply->ttl)};
    }
}

EchoAnswer EchoProbe::Send(const EchoRequest& request, const CancelToken* token)
{
    const IpAddress& destination = request.destination;
    if (destination.IsNone())
        return {};
    const bool v6 = destination.IsV6();
    Way& way = ways_[v6 ? 1 : 0];
    if (!way.opened)
        Open(way, destination.Family(), token);
    if (!way.socket.Valid())
        return helper_.fd.Valid() ? SendThroughHelper(request, token) : EchoAnswer{};
    const int fd = way.socket.Get();
    int ttl = request.ttl;
    if (v6) {
        setsockopt(fd, SOL_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
        setsockopt(fd, SOL_IPV6, IPV6_MULTICAST_HOPS, &ttl, sizeof ttl);
    } else {
        setsockopt(fd, SOL_IP, IP_TTL, &ttl, sizeof ttl);
    }

    const std::uint16_t sequence = g_sequence.fetch_add(1);
    const std::uint16_t identifier = way.identifier;
    std::vector<std::uint8_t> packet{v6 ? kEcho6Request : kEchoRequest, 0, 0, 0,
                                     std::uint8_t(identifier >> 8), std::uint8_t(identifier),
                                     std::uint8_t(sequence >> 8), std::uint8_t(sequence)};
    packet.insert(packet.end(), request.data.begin(), request.data.end());
    if (!v6) {  // the kernel sums ICMPv6, whose checksum covers the addresses too
        const std::uint16_t sum = Checksum(packet);
        packet[2] = std::uint8_t(sum >> 8);
        packet[3] = std::uint8_t(sum);
    }

    sockaddr_storage to{};
    const socklen_t toLength = destination.ToSockaddr(0, to);
    const auto start = Clock::now();
    auto elapsedMs = [&] {
        return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), toLength) < 0)
        return LocalFailure(errno);

    std::uint8_t datagram[1500];
    for (;;) {
        WaitResult waited = WaitForFd(fd, POLLIN, token, request.deadline);
        if (waited != WaitResult::Ready)
            return {waited == WaitResult::Failed ? EchoStatus::Failed : EchoStatus::TimedOut};
        if (way.datagram) {
            if (auto report = ReadErrorQueue(fd, v6, sequence, elapsedMs()))
                return *report;
        }
        sockaddr_storage from{};
        alignas(cmsghdr) char control[64];
        iovec iov{datagram, sizeof datagram};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
        if (n < 0)
            continue;  // nothing after all, or an error already taken from the queue
        const std::span<const std::uint8_t> received(datagram, std::size_t(n));
        const IpAddress source = IpAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&from), msg.msg_namelen);
        if (way.datagram && IsDatagramEchoReply(received, sequence, destination.Family()))
            return {EchoStatus::Reply, source, elapsedMs()};
        if (way.datagram)
            continue;
        std::optional<EchoAnswer> answer;
        if (v6) {
            int hopLimit = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_HOPLIMIT &&
                    c->cmsg_len >= CMSG_LEN(sizeof hopLimit))
                    std::memcpy(&hopLimit, CMSG_DATA(c), sizeof hopLimit);
            }
            answer = ParseRawIcmp6Answer(received, source, std::uint8_t(std::clamp(hopLimit, 0, 255)), destination,
                                         identifier, sequence);
        } else {
            answer = ParseRawIcmpAnswer(received, destination.V4(), identifier, sequence);
        }
        if (answer) {
            answer->roundTripMs = elapsedMs();
            return *answer;
        }
    }
}

std::optional<EchoAnswer> ParseRawIcmpAnswer(std::span<const std::uint8_t> datagram, std::uint32_t destination,
                                             std::uint16_t identifier, std::uint16_t sequence)
{
    const ByteReader in(datagram.data(), datagram.size());
    const auto icmp = IcmpPayloadOfIp(in, 0);
    const auto source = AddressAt(in, 12);
    const auto ttl = in.U8At(8);
    if (!icmp || !source || !ttl)
        return std::nullopt;
    const auto type = in.U8At(*icmp);
    const auto code = in.U8At(*icmp + 1);
    if (!type || !code)
        return std::nullopt;

    if (*type == kEchoReply) {
        if (in.U16At(*icmp + 4) != identifier || in.U16At(*icmp + 6) != sequence)
            return std::nullopt;
        return EchoAnswer{EchoStatus::Reply, IpAddress::V4(*source), 0, *ttl};
    }
    const auto status = StatusOfIcmpReport(*type, *code);
    if (!status)
        return std::nullopt;  // our own request on loopback, or nothing that answers an echo
    // The report quotes the IP header of our echo and its first 8 bytes.
    const auto quoted = IcmpPayloadOfIp(in, *icmp + 8);
    if (!quoted || AddressAt(in, *icmp + 8 + 16) != destination || in.U8At(*quoted) != kEchoRequest ||
        in.U16At(*quoted + 4) != identifier || in.U16At(*quoted + 6) != sequence)
        return std::nullopt;
    return EchoAnswer{*status, IpAddress::V4(*source), 0, *ttl};
}

// An ICMPv6 message, its header first:
//   type(1) code(1) checksum(2) identifier(2) sequence(2)      echo reply (129)
//   type(1) code(1) checksum(2) unused or MTU or pointer(4)    errors (1-4), then
//       the invoking packet: IPv6 header (40; next header at 6, destination
//       at 24), and the echo request it carried (128, identifier, sequence)
// Echoes carry no extension headers, so a quoted one must not either. RFC 4443.
std::optional<EchoAnswer> ParseRawIcmp6Answer(std::span<const std::uint8_t> datagram, const IpAddress& source,
                                              std::uint8_t hopLimit, const IpAddress& destination,
                                              std::uint16_t identifier, std::uint16_t sequence)
{
    const ByteReader in(datagram.data(), datagram.size());
    const auto type = in.U8At(0);
    const auto code = in.U8At(1);
    if (!type || !code || !source.IsV6() || !destination.IsV6())
        return std::nullopt;
    if (*type == kEcho6Reply) {
        if (in.U16At(4) != identifier || in.U16At(6) != sequence)
            return std::nullopt;
        return EchoAnswer{EchoStatus::Reply, source, 0, hopLimit};
    }
    const auto status = StatusOfIcmp6Report(*type, *code);
    if (!status)
        return std::nullopt;
    constexpr std::size_t quoted = 8, echo = quoted + kIpv6HeaderSize;
    const auto version = in.U8At(quoted);
    ByteReader quotedDestination = in;
    std::uint8_t to[16];
    if (!version || (*version >> 4) != 6 || in.U8At(quoted + 6) != kIpProtocolIcmp6 ||
        !quotedDestination.Seek(quoted + 24) || !quotedDestination.Copy(to, sizeof to) ||
        std::memcmp(to, destination.Bytes(), sizeof to) != 0 || in.U8At(echo) != kEcho6Request ||
        in.U16At(echo + 4) != identifier || in.U16At(echo + 6) != sequence)
        return std::nullopt;
    return EchoAnswer{*status, source, 0, hopLimit};
}

bool IsDatagramEchoReply(std::span<const std::uint8_t> datagram, std::uint16_t sequence, int family)
{
    const ByteReader in(datagram.data(), datagram.size());
    return in.U8At(0) == (family == AF_INET6 ? kEcho6Reply : kEchoReply) && in.U16At(6) == sequence;
}
