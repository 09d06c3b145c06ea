#include "os/PacketSocket.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

constexpr int kReceiveBuffer = 8 << 20;

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

Fd OpenPacketSocket(unsigned interfaceIndex, const std::vector<sock_filter>& filter, int& error)
{
    Fd fd(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) {
        error = errno;
        return fd;
    }
    sock_fprog program{std::uint16_t(filter.size()), const_cast<sock_filter*>(filter.data())};
    int on = 1, size = kReceiveBuffer;
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_ALL);
    where.sll_ifindex = int(interfaceIndex);
    sockaddr_ll bound{};
    socklen_t boundLength = sizeof bound;
    // A deep queue rides out the moments the reader is not scheduled. Beyond
    // net.core.rmem_max only with CAP_NET_ADMIN, as root has; else, as in the
    // helper, which keeps only CAP_NET_RAW for a capture, as much as the limit
    // allows.
    if (setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (setsockopt(fd.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        setsockopt(fd.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        setsockopt(fd.Get(), SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) != 0 ||
        bind(fd.Get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        error = errno;
        return Fd();
    }
    if (bound.sll_family != AF_PACKET || bound.sll_protocol != htons(ETH_P_ALL) || bound.sll_ifindex != int(interfaceIndex)) {
        error = EPROTO;
        return Fd();
    }
    PacketDrops(fd.Get());  // counts start now
    error = 0;
    return fd;
}

long ReadPacketFrame(int fd, bool isLoopback, std::uint8_t* buffer, std::size_t size, PacketFrameInfo& info)
{
    if (!buffer)
        return -1;
    for (;;) {
        sockaddr_ll from{};
        iovec data{buffer, size};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message{&from, sizeof from, &data, 1, control, sizeof control, 0};
        const ssize_t n = recvmsg(fd, &message, MSG_DONTWAIT);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno == EINTR ? 0 : -1;
        if (isLoopback && from.sll_pkttype == PACKET_OUTGOING)
            continue;
        // The length the IP header gives: IPv4's total length, or IPv6's
        // payload length after its 40-byte header.
        std::size_t length = 0;
        if (from.sll_protocol == htons(ETH_P_IP) && n >= 20)
            length = std::max<std::size_t>(std::size_t(buffer[2]) << 8 | buffer[3], 20);
        else if (from.sll_protocol == htons(ETH_P_IPV6) && n >= 40)
            length = 40 + (std::size_t(buffer[4]) << 8 | buffer[5]);
        else
            continue;
        timespec stamp{};
        const cmsghdr* c = CMSG_FIRSTHDR(&message);
        if (c && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof stamp))
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        else
            clock_gettime(CLOCK_REALTIME, &stamp);
        info.receivedNs = std::int64_t(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
        info.originalLength = std::uint32_t(length);
        return long(std::min(std::size_t(n), length));
    }
}

std::uint32_t PacketDrops(int fd)
{
    tpacket_stats stats{};
    socklen_t length = sizeof stats;
    return getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0 ? stats.tp_drops : 0;
}
