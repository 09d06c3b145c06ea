#include "privilege/CaptureChannel.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/Fd.h"
#include "os/PollWait.h"

namespace {

constexpr int kReceiveBuffer = 8 << 20;
// How long Close waits for the helper's drop count.
constexpr int kEndReportMs = 2000;

}  // namespace

bool IsLoopbackInterface(const std::string& interfaceName)
{
    const Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
    return ioctl(fd.Get(), SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_LOOPBACK);
}

int OpenPacketCapture(const std::string& interfaceName, const CaptureFilterSettings& settings, int& error)
{
    const unsigned index = IsValidInterfaceName(interfaceName) ? if_nametoindex(interfaceName.c_str()) : 0;
    if (index == 0) {
        error = ENODEV;
        return -1;
    }
    Fd fd(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) {
        error = errno;
        return -1;
    }
    std::vector<sock_filter> code = BuildCaptureFilter(settings, IsLoopbackInterface(interfaceName));
    sock_fprog program{std::uint16_t(code.size()), code.data()};
    int on = 1, size = kReceiveBuffer;
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_ALL);
    where.sll_ifindex = int(index);
    sockaddr_ll bound{};
    socklen_t boundLength = sizeof bound;
    // A deep queue rides out the moments the reader is not scheduled. Beyond
    // net.core.rmem_max only with CAP_NET_ADMIN, as root has; else, as in the
    // helper, which keeps only CAP_NET_RAW for a capture, as much as the limit
    // allows.
    if (setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (setsockopt(fd.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        setsockopt(fd.Get(), SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) != 0 ||
        bind(fd.Get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        error = errno;
        return -1;
    }
    if (bound.sll_family != AF_PACKET || bound.sll_protocol != htons(ETH_P_ALL) || bound.sll_ifindex != int(index)) {
        error = EPROTO;
        return -1;
    }
    PacketDrops(fd.Get());  // counts start now
    error = 0;
    return fd.Release();
}

long ReadPacketFrame(int fd, bool isLoopback, std::uint8_t* buffer, std::size_t size)
{
    if (!buffer)
        return -1;
    size = std::min<std::size_t>(size, kCaptureFrameMax);
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(fd, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno == EINTR ? 0 : -1;
        if (from.sll_protocol != htons(ETH_P_IP) || (isLoopback && from.sll_pkttype == PACKET_OUTGOING) || n < 20)
            continue;
        const std::size_t total = std::size_t(buffer[2]) << 8 | buffer[3];
        return long(std::min<std::size_t>(std::size_t(n), std::max<std::size_t>(total, 20)));
    }
}

std::uint32_t PacketDrops(int fd)
{
    tpacket_stats stats{};
    socklen_t length = sizeof stats;
    return getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0 ? stats.tp_drops : 0;
}

CaptureChannel::~CaptureChannel()
{
    Close();
}

bool CaptureChannel::Open(const std::string& interfaceName, const CaptureFilterSettings& settings,
                          const CancelToken* token)
{
    Close();
    failure_ = PrivilegeFailure::None;
    error_ = 0;
    drops_ = 0;
    ended_ = false;
    loopback_ = IsLoopbackInterface(interfaceName);
    if (DoesItself(PrivilegedOperation::Capture)) {
        socket_.Reset(OpenPacketCapture(interfaceName, settings, error_));
        return socket_.Valid();
    }
    NetcapRequest request;
    request.kind = NetcapKind::Capture;
    request.interfaceName = interfaceName;
    request.protocolFilter = settings.protocolFilter;
    request.portDirection = settings.portDirection;
    request.portFilter = settings.portFilter;
    if (!ParseNetcapRequest(FormatNetcapRequest(request))) {  // settings the helper would refuse
        error_ = IsValidInterfaceName(interfaceName) ? EINVAL : ENODEV;
        return false;
    }
    session_ = OpenNetcapSession(request, token);
    failure_ = session_.failure;
    error_ = session_.error;
    return session_.fd.Valid();
}

int CaptureChannel::Fd() const
{
    return socket_.Valid() ? socket_.Get() : session_.fd.Get();
}

long CaptureChannel::ReadFrame(std::uint8_t* buffer, std::size_t size)
{
    if (socket_.Valid())
        return ReadPacketFrame(socket_.Get(), loopback_, buffer, size);
    if (!session_.fd.Valid() || ended_ || !buffer)
        return -1;
    std::uint8_t message[1 + kCaptureFrameMax + 1];
    for (;;) {
        long n = ReceiveNetcapMessage(session_.fd.Get(), message, sizeof message);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        if (n >= 2 && n <= long(1 + kCaptureFrameMax) && message[0] == kNetcapFrame) {
            const std::size_t copy = std::min(std::size_t(n - 1), size);
            std::memcpy(buffer, message + 1, copy);
            return long(copy);
        }
        const bool count = n == 1 + long(sizeof drops_) && (message[0] == kNetcapDrops || message[0] == kNetcapEnd);
        if (count)
            std::memcpy(&drops_, message + 1, sizeof drops_);
        if (!count || message[0] == kNetcapEnd)
            break;
    }
    ended_ = true;  // the end, or anything that is no frame: the helper is done
    return -1;
}

std::uint32_t CaptureChannel::Drops()
{
    if (socket_.Valid())
        drops_ += PacketDrops(socket_.Get());
    return drops_;
}

void CaptureChannel::Close()
{
    if (socket_.Valid()) {
        Drops();
        socket_.Reset();
    }
    if (session_.fd.Valid()) {
        if (!ended_ && send(session_.fd.Get(), kNetcapStop.data(), kNetcapStop.size(), MSG_NOSIGNAL) > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndReportMs);
            std::uint8_t frame[kCaptureFrameMax];
            while (!ended_ && WaitForFd(session_.fd.Get(), POLLIN, nullptr, deadline) == WaitResult::Ready)
                ReadFrame(frame, sizeof frame);
        }
        CloseNetcapSession(session_);
    }
    ended_ = true;
}
