#include "platform/CaptureChannel.h"

#include <linux/capability.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/PollWait.h"

namespace {

constexpr int kReceiveBuffer = 8 << 20;
// How long Close waits for the helper's drop count.
constexpr int kEndReportMs = 2000;

}  // namespace

bool IsLoopbackInterface(const std::string& interfaceName)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
    const bool loopback = ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_LOOPBACK);
    close(fd);
    return loopback;
}

int OpenPacketCapture(const std::string& interfaceName, const CaptureFilterSettings& settings, int& error)
{
    const unsigned index = IsValidInterfaceName(interfaceName) ? if_nametoindex(interfaceName.c_str()) : 0;
    if (index == 0) {
        error = ENODEV;
        return -1;
    }
    int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
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
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    if (bound.sll_family != AF_PACKET || bound.sll_protocol != htons(ETH_P_ALL) || bound.sll_ifindex != int(index)) {
        error = EPROTO;
        close(fd);
        return -1;
    }
    PacketDrops(fd);  // counts start now
    error = 0;
    return fd;
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
    if (HoldsCapability(CAP_NET_RAW)) {
        socket_ = OpenPacketCapture(interfaceName, settings, error_);
        return socket_ >= 0;
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
    return session_.fd >= 0;
}

int CaptureChannel::Fd() const
{
    return socket_ >= 0 ? socket_ : session_.fd;
}

long CaptureChannel::ReadFrame(std::uint8_t* buffer, std::size_t size)
{
    if (socket_ >= 0)
        return ReadPacketFrame(socket_, loopback_, buffer, size);
    if (session_.fd < 0 || ended_ || !buffer)
        return -1;
    std::uint8_t message[1 + kCaptureFrameMax + 1];
    for (;;) {
        long n = ReceiveNetcapMessage(session_.fd, message, sizeof message);
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
    if (socket_ >= 0)
        drops_ += PacketDrops(socket_);
    return drops_;
}

void CaptureChannel::Close()
{
    if (socket_ >= 0) {
        Drops();
        close(socket_);
        socket_ = -1;
    }
    if (session_.fd >= 0) {
        if (!ended_ && send(session_.fd, kNetcapStop.data(), kNetcapStop.size(), MSG_NOSIGNAL) > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndReportMs);
            std::uint8_t frame[kCaptureFrameMax];
            while (!ended_ && WaitForFd(session_.fd, POLLIN, nullptr, deadline) == WaitResult::Ready)
                ReadFrame(frame, sizeof frame);
        }
        CloseNetcapSession(session_);
    }
    ended_ = true;
}
