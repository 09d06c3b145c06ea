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
#include <vector>

#include "platform/NetcapClient.h"
#include "platform/IcmpLibrary.h"
#include "platform/PollWait.h"
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

// Every read of a received datagram goes through here: out of range is a
// failed read, never a read past the end.
class PacketReader {
public:
    PacketReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool U8(std::size_t at, std::uint8_t& value) const
    {
        if (at >= size_)
            return false;
        value = data_[at];
        return true;
    }
    bool U16(std::size_t at, std::uint16_t& value) const  // network byte order in, host order out
    {
        if (at > size_ || size_ - at < 2)
            return false;
        value = std::uint16_t(data_[at] << 8 | data_[at + 1]);
        return true;
    }
    bool Address(std::size_t at, std::uint32_t& value) const  // kept in network byte order
    {
        if (at > size_ || size_ - at < 4)
            return false;
        std::memcpy(&value, data_ + at, 4);
        return true;
    }
    std::size_t Size() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// An IPv4 header at offset at carrying ICMP: the offset of its payload.
bool IcmpPayloadOfIp(const PacketReader& in, std::size_t at, std::size_t& payload)
{
    std::uint8_t versionAndLength = 0, protocol = 0;
    if (!in.U8(at, versionAndLength) || !in.U8(at + 9, protocol))
        return false;
    std::size_t headerLength = std::size_t(versionAndLength & 0x0F) * 4;
    if ((versionAndLength >> 4) != 4 || headerLength < 20 || protocol != kIpProtocolIcmp)
        return false;
    payload = at + headerLength;
    return payload <= in.Size();
}

struct EchoSocket {
    int fd = -1;
    bool datagram = false;       // ICMP datagram socket: the kernel sets the identifier
    std::uint16_t identifier = 0;
    NetcapSession helper;        // the helper's echo session, when fd is its socket pair
    std::uint32_t serial = 0;
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
    auto* s = new EchoSocket{fd, datagram, RandomU16(), {}, 0};
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
    if (session.fd < 0) {
        // An answer other than EPERM (no capability) is the helper failing.
        t_openFailure = session.failure == PrivilegeFailure::None ? PrivilegeFailure::HelperFailed : session.failure;
        return kInvalidIcmpHandle;
    }
    auto* s = new EchoSocket{session.fd, false, 0, session, 0};
    return reinterpret_cast<IcmpHandle>(s);
}

int EchoClose(IcmpHandle handle)
{
    EchoSocket* s = Unwrap(handle);
    if (!s)
        return 0;
    if (s->helper.fd >= 0)
        CloseNetcapSession(s->helper);
    else
        close(s->fd);
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
        PacketReader in(quoted, std::size_t(n));
        std::uint8_t type = 0;
        std::uint16_t quotedSequence = 0;
        if (in.U8(0, type) && in.U16(6, quotedSequence) && (type != kEchoRequest || quotedSequence != sequence))
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
    if (s->helper.fd >= 0)
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
    PacketReader in(data, size);
    std::size_t icmp = 0;
    std::uint32_t source = 0;
    std::uint8_t ttl = 0, type = 0, code = 0;
    if (!IcmpPayloadOfIp(in, 0, icmp) || !in.Address(12, source) || !in.U8(8, ttl) || !in.U8(icmp, type) ||
        !in.U8(icmp + 1, code))
        return false;

    if (type == kEchoReply) {
        std::uint16_t id = 0, seq = 0;
        if (!in.U16(icmp + 4, id) || !in.U16(icmp + 6, seq) || id != identifier || seq != sequence)
            return false;
        *answer = IcmpAnswer{source, kIpSuccess, ttl, icmp + 8, size - (icmp + 8)};
        return true;
    }

    std::uint32_t status = StatusOfIcmpReport(type, code);
    if (status == 0)
        return false;  // our own request on loopback, or nothing that answers an echo
    // The report quotes the IP header of our echo and its first 8 bytes.
    std::size_t quoted = 0;
    std::uint32_t quotedDestination = 0;
    std::uint8_t quotedType = 0;
    std::uint16_t id = 0, seq = 0;
    if (!IcmpPayloadOfIp(in, icmp + 8, quoted) || !in.Address(icmp + 8 + 16, quotedDestination) ||
        !in.U8(quoted, quotedType) || !in.U16(quoted + 4, id) || !in.U16(quoted + 6, seq))
        return false;
    if (quotedType != kEchoRequest || quotedDestination != destination || id != identifier || seq != sequence)
        return false;
    *answer = IcmpAnswer{source, status, ttl, 0, 0};
    return true;
}

bool ParseDatagramEchoReply(const std::uint8_t* data, std::size_t size, std::uint16_t sequence,
                            IcmpAnswer* answer)
{
    if (!data || !answer)
        return false;
    PacketReader in(data, size);
    std::uint8_t type = 0;
    std::uint16_t seq = 0;
    if (!in.U8(0, type) || !in.U16(6, seq) || type != kEchoReply || seq != sequence)
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
