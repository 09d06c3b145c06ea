#include "platform/IcmpEchoSocket.h"

#include <time.h>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "os/PollWait.h"
#include "net/ByteReader.h"
#include "privilege/NetcapClient.h"
#include "platform/IcmpLibrary.h"
#include "platform/ThreadCancel.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::uint8_t kIpProtocolIcmp = 1;

thread_local PrivilegeFailure t_openFailure = PrivilegeFailure::None;

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

struct EchoSocket {
    int fd = -1;
    bool datagram = false;       // ICMP datagram socket: the kernel sets the identifier
    std::uint16_t identifier = 0;
    NetcapSession helper;        // the helper's echo session, when fd is its socket pair
    std::uint32_t serial = 0;
    Fd own;                      // fd when it is not the helper's
};

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

std::uint32_t StatusOfLocalError(int error)
{
    switch (error) {
    case ENETUNREACH:
        return kIpDestNetUnreachable;
    case EHOSTUNREACH:
        return kIpDestHostUnreachable;
    case EMSGSIZE:
        return kIpPacketTooBig;
    default:
        return kIpGeneralFailure;
    }
}

// The first record, and the answer's data behind it where it fits.
void WriteRecord(void* reply, std::uint32_t replySize, const IcmpAnswer& answer, std::uint32_t roundTripMs,
                 const std::uint8_t* data = nullptr, std::size_t dataSize = 0)
{
    auto* base = static_cast<std::uint8_t*>(reply);
    IcmpEchoReply record{};
    record.Address = answer.from;
    record.Status = answer.status;
    record.RoundTripTime = roundTripMs;
    record.Options.Ttl = answer.ttl;
    std::size_t copy = std::min<std::size_t>({dataSize, replySize - sizeof record, 0xFFFF});
    if (data && copy > 0) {
        std::memcpy(base + sizeof record, data, copy);
        record.Data = base + sizeof record;
        record.DataSize = std::uint16_t(copy);
    }
    std::memcpy(base, &record, sizeof record);
}

IcmpHandle Wrap(int fd, bool datagram)
{
    auto* s = new EchoSocket{fd, datagram, RandomU16(), {}, 0, Fd(fd)};
    return reinterpret_cast<IcmpHandle>(s);
}

IcmpHandle WrapRaw(int fd)
{
    // Raw sockets see every ICMP packet of the host: let only the kinds that
    // can answer an echo wake us.
    icmp_filter filter{};
    filter.data = ~((1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kSourceQuench) |
                    (1u << kTimeExceeded) | (1u << kParameterProblem));
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    return Wrap(fd, false);
}

EchoSocket* Unwrap(IcmpHandle handle)
{
    return handle == kInvalidIcmpHandle || handle == 0 ? nullptr : reinterpret_cast<EchoSocket*>(handle);
}

IcmpHandle EchoOpen()
{
    t_openFailure = PrivilegeFailure::None;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        int on = 1;
        setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
        return Wrap(fd, true);
    }
    fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0)
        return WrapRaw(fd);
    NetcapSession session = OpenNetcapSession(NetcapRequest{NetcapKind::Echo}, ThreadCancelToken());
    if (!session.fd.Valid()) {
        // An answer other than EPERM (no capability) is the helper failing.
        t_openFailure = session.failure == PrivilegeFailure::None ? PrivilegeFailure::HelperFailed : session.failure;
        return kInvalidIcmpHandle;
    }
    auto* s = new EchoSocket{session.fd.Get(), false, 0, std::move(session), 0, {}};
    return reinterpret_cast<IcmpHandle>(s);
}

int EchoClose(IcmpHandle handle)
{
    EchoSocket* s = Unwrap(handle);
    if (!s)
        return 0;
    if (s->helper.fd.Valid())
        CloseNetcapSession(s->helper);
    delete s;
    return 1;
}

void ApplyOptions(int fd, const IpOptionInformation* options)
{
    if (!options)
        return;
    int ttl = options->Ttl;
    setsockopt(fd, SOL_IP, IP_TTL, &ttl, sizeof ttl);
    int tos = options->Tos;
    setsockopt(fd, SOL_IP, IP_TOS, &tos, sizeof tos);
    int pmtu = (options->Flags & 0x02) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;  // 0x02: don't fragment
    setsockopt(fd, SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
    if (options->OptionsSize > 0 && options->OptionsData)
        setsockopt(fd, SOL_IP, IP_OPTIONS, options->OptionsData, options->OptionsSize);
}

enum class Received { Nothing, Answer, LocalError };

// A datagram socket's error queue: a router's report about our echo, or a
// local failure to deliver it.
Received ReadErrorQueue(int fd, std::uint16_t sequence, IcmpAnswer& answer)
{
    std::uint8_t quoted[576];
    alignas(cmsghdr) char control[512];
    sockaddr_in from{};
    iovec iov{quoted, sizeof quoted};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0)
        return Received::Nothing;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        // The quoted echo is ours unless it says otherwise (routers may quote little).
        const ByteReader in(quoted, std::size_t(n));
        const auto type = in.U8At(0);
        const auto quotedSequence = in.U16At(6);
        if (type && quotedSequence && (*type != kEchoRequest || *quotedSequence != sequence))
            return Received::Nothing;
        if (error.ee_origin == SO_EE_ORIGIN_ICMP) {
            answer.status = StatusOfIcmpReport(error.ee_type, error.ee_code);
            if (answer.status == 0)
                return Received::Nothing;
            sockaddr_in offender;
            std::memcpy(&offender, reinterpret_cast<const std::uint8_t*>(CMSG_DATA(c)) + sizeof error,
                        sizeof offender);
            answer.from = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
            return Received::Answer;
        }
        if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {
            answer.status = StatusOfLocalError(int(error.ee_errno));
            return Received::LocalError;
        }
    }
    return Received::Nothing;
}

// One echo through the helper's session: it sends the echo and waits for its
// answer; this side waits a little longer than the echo's time-out.
std::uint32_t SendThroughHelper(EchoSocket& s, std::uint32_t destination, const void* requestData,
                                std::uint16_t requestSize, const IpOptionInformation* options, void* replyBuffer,
                                std::uint32_t replySize, std::uint32_t timeoutMs)
{
    constexpr std::uint32_t kHelperMarginMs = 3000;
    NetcapEchoAsk ask;
    ask.serial = ++s.serial;
    ask.destination = destination;
    ask.timeoutMs = std::clamp<std::uint32_t>(timeoutMs, 1, kNetcapMaxEchoTimeoutMs);
    ask.ttl = options && options->Ttl ? options->Ttl : 64;  // the kernel's own default
    ask.tos = options ? options->Tos : 0;
    ask.flags = options ? options->Flags : 0;
    IcmpAnswer answer;
    answer.status = kIpGeneralFailure;
    const std::vector<std::uint8_t> message = FormatNetcapEchoAsk(ask, requestData, requestSize);
    if (requestSize > kNetcapMaxEchoData ||
        send(s.fd, message.data(), message.size(), MSG_NOSIGNAL) != ssize_t(message.size())) {
        WriteRecord(replyBuffer, replySize, answer, 0);
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(ask.timeoutMs + kHelperMarginMs);
    std::vector<std::uint8_t> received(sizeof(NetcapEchoAnswer) + kNetcapMaxEchoData + 1);
    std::vector<std::uint8_t> data;
    for (;;) {
        WaitResult waited = WaitForFd(s.fd, POLLIN, ThreadCancelToken(), deadline);
        if (waited == WaitResult::Cancelled || waited == WaitResult::TimedOut) {
            answer.status = kIpReqTimedOut;
            break;
        }
        long n = waited == WaitResult::Ready ? ReceiveNetcapMessage(s.fd, received.data(), received.size()) : -1;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        auto reply = n > 0 ? ParseNetcapEchoAnswer(received.data(), std::size_t(n), data) : std::nullopt;
        if (!reply)
            break;  // the helper is gone or said something else: a failed echo
        if (reply->serial != ask.serial)
            continue;  // the answer to an echo given up before
        answer = IcmpAnswer{reply->address, reply->status, std::uint8_t(reply->ttl), 0, 0};
        WriteRecord(replyBuffer, replySize, answer, reply->roundTripMs, data.data(), data.size());
        return reply->replied;
    }
    WriteRecord(replyBuffer, replySize, answer, 0);
    return 0;
}

std::uint32_t EchoSend(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                       std::uint16_t requestSize, const IpOptionInformation* options, void* replyBuffer,
                       std::uint32_t replySize, std::uint32_t timeoutMs)
{
    EchoSocket* s = Unwrap(handle);
    if (!s || !replyBuffer || replySize < sizeof(IcmpEchoReply) || (requestSize > 0 && !requestData))
        return 0;
    if (s->helper.fd.Valid())
        return SendThroughHelper(*s, destination, requestData, requestSize, options, replyBuffer, replySize,
                                 timeoutMs);
    ApplyOptions(s->fd, options);

    const std::uint16_t sequence = g_sequence.fetch_add(1);
    std::vector<std::uint8_t> packet(8 + std::size_t(requestSize));
    packet[0] = kEchoRequest;
    packet[4] = std::uint8_t(s->identifier >> 8);
    packet[5] = std::uint8_t(s->identifier);
    packet[6] = std::uint8_t(sequence >> 8);
    packet[7] = std::uint8_t(sequence);
    if (requestSize > 0)
        std::memcpy(packet.data() + 8, requestData, requestSize);
    const std::uint16_t sum = Checksum(packet);
    packet[2] = std::uint8_t(sum >> 8);
    packet[3] = std::uint8_t(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    auto elapsedMs = [&] {
        return std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };

    IcmpAnswer answer;
    if (sendto(s->fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        answer.status = StatusOfLocalError(errno);
        WriteRecord(replyBuffer, replySize, answer, 0);
        return 0;
    }

    std::uint8_t datagram[1500];
    for (;;) {
        WaitResult waited = WaitForFd(s->fd, POLLIN, ThreadCancelToken(), deadline);
        if (waited != WaitResult::Ready) {
            answer = IcmpAnswer{};
            answer.status = waited == WaitResult::Failed ? kIpGeneralFailure : kIpReqTimedOut;
            WriteRecord(replyBuffer, replySize, answer, 0);
            return 0;
        }
        answer = IcmpAnswer{};
        if (s->datagram) {
            Received queued = ReadErrorQueue(s->fd, sequence, answer);
            if (queued == Received::Answer) {
                WriteRecord(replyBuffer, replySize, answer, elapsedMs());
                return 1;
            }
            if (queued == Received::LocalError) {
                WriteRecord(replyBuffer, replySize, answer, 0);
                return 0;
            }
        }
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(s->fd, datagram, sizeof datagram, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                             &fromLength);
        if (n < 0)
            continue;  // nothing after all, or an error already taken from the queue
        bool matched = s->datagram
                           ? ParseDatagramEchoReply(datagram, std::size_t(n), sequence, &answer)
                           : ParseRawIcmpAnswer(datagram, std::size_t(n), destination, s->identifier, sequence,
                                                &answer);
        if (!matched)
            continue;
        if (s->datagram)
            answer.from = from.sin_addr.s_addr;
        WriteRecord(replyBuffer, replySize, answer, elapsedMs(), datagram + answer.dataOffset, answer.dataSize);
        return 1;
    }
}

const void* OpenComponent()
{
    static const char component = 0;
    return &component;
}

void* LookupEntry(const void*, const char* name)
{
    if (std::strcmp(name, "IcmpCreateFile") == 0)
        return reinterpret_cast<void*>(&EchoOpen);
    if (std::strcmp(name, "IcmpCloseHandle") == 0)
        return reinterpret_cast<void*>(&EchoClose);
    if (std::strcmp(name, "IcmpSendEcho") == 0)
        return reinterpret_cast<void*>(&EchoSend);
    return nullptr;
}

void ReleaseComponent(const void*) {}

}  // namespace

std::uint32_t StatusOfIcmpReport(int type, int code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:   // net
        case 6:   // net unknown
        case 9:   // net administratively prohibited
        case 11:  // net unreachable for type of service
            return kIpDestNetUnreachable;
        case 2:
            return kIpDestProtUnreachable;
        case 3:
            return kIpDestPortUnreachable;
        case 4:
            return kIpPacketTooBig;
        case 5:
            return kIpBadRoute;  // source route failed
        default:
            return kIpDestHostUnreachable;  // host, host unknown or prohibited, communication prohibited
        }
    case kTimeExceeded:
        return code == 1 ? kIpTtlExpiredReassem : kIpTtlExpiredTransit;
    case kParameterProblem:
        return kIpParamProblem;
    case kSourceQuench:
        return kIpSourceQuench;
    default:
        return 0;
    }
}

bool ParseRawIcmpAnswer(const std::uint8_t* data, std::size_t size, std::uint32_t destination,
                        std::uint16_t identifier, std::uint16_t sequence, IcmpAnswer* answer)
{
    if (!data || !answer)
        return false;
    const ByteReader in(data, size);
    const auto icmp = IcmpPayloadOfIp(in, 0);
    const auto source = AddressAt(in, 12);
    const auto ttl = in.U8At(8);
    if (!icmp || !source || !ttl)
        return false;
    const auto type = in.U8At(*icmp);
    const auto code = in.U8At(*icmp + 1);
    if (!type || !code)
        return false;

    if (*type == kEchoReply) {
        if (in.U16At(*icmp + 4) != identifier || in.U16At(*icmp + 6) != sequence)
            return false;
        *answer = IcmpAnswer{*source, kIpSuccess, *ttl, *icmp + 8, size - (*icmp + 8)};
        return true;
    }

    std::uint32_t status = StatusOfIcmpReport(*type, *code);
    if (status == 0)
        return false;  // our own request on loopback, or nothing that answers an echo
    // The report quotes the IP header of our echo and its first 8 bytes.
    const auto quoted = IcmpPayloadOfIp(in, *icmp + 8);
    if (!quoted || AddressAt(in, *icmp + 8 + 16) != destination || in.U8At(*quoted) != kEchoRequest ||
        in.U16At(*quoted + 4) != identifier || in.U16At(*quoted + 6) != sequence)
        return false;
    *answer = IcmpAnswer{*source, status, *ttl, 0, 0};
    return true;
}

bool ParseDatagramEchoReply(const std::uint8_t* data, std::size_t size, std::uint16_t sequence,
                            IcmpAnswer* answer)
{
    if (!data || !answer)
        return false;
    const ByteReader in(data, size);
    if (in.U8At(0) != kEchoReply || in.U16At(6) != sequence)
        return false;
    *answer = IcmpAnswer{0, kIpSuccess, 0, 8, size - 8};
    return true;
}

IcmpHandle WrapRawEchoSocket(int fd)
{
    return fd < 0 ? kInvalidIcmpHandle : WrapRaw(fd);
}

PrivilegeFailure LastIcmpOpenFailure()
{
    return t_openFailure;
}

const IcmpProvider& DefaultIcmpProvider()
{
    static const IcmpProvider provider{&OpenComponent, &LookupEntry, &ReleaseComponent};
    return provider;
}
