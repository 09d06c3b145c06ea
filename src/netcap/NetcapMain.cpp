// quorlix-netcap: the one privileged piece of Quorlix. Installed with the file
// capabilities cap_net_raw,cap_net_admin, it serves exactly one request that
// arrives on its standard input (one end of a Unix SOCK_SEQPACKET pair), answers
// on the same socket and exits. It opens a raw ICMP socket, opens a packet
// socket bound to one interface, or destroys one TCP connection; it refuses
// everything else (see NetcapRequest.h for the wire form).

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "netcap/NetcapRequest.h"

namespace {

constexpr int kChannel = 0;

bool IsSeqPacketChannel(int fd)
{
    int domain = 0, type = 0;
    socklen_t len = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0)
        return false;
    len = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return false;
    return domain == AF_UNIX && type == SOCK_SEQPACKET;
}

// Sends the answer, with fd attached when it is a socket to hand over.
bool Answer(int error, int fd)
{
    const std::string text = FormatNetcapReply(error);
    iovec iov{const_cast<char*>(text.data()), text.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    return sendmsg(kChannel, &msg, MSG_NOSIGNAL) == ssize_t(text.size());
}

int OpenRawIcmp(int& error)
{
    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    error = fd < 0 ? errno : 0;
    return fd;
}

// A packet socket seeing both directions (ETH_P_ALL), data from the network
// header on (SOCK_DGRAM), bound to the one interface asked for.
int OpenPacketSocket(const std::string& interfaceName, int& error)
{
    unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        error = ENODEV;
        return -1;
    }
    int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) {
        error = errno;
        return -1;
    }
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_ALL);
    where.sll_ifindex = int(index);
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    error = 0;
    return fd;
}

// SOCK_DESTROY through sock_diag. The kernel checks CAP_NET_ADMIN of this
// process; without a cookie it finds the socket by its four address fields.
int KillTcpConnection(const NetcapRequest& request)
{
    int nl = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0)
        return errno;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DESTROY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    message.header.nlmsg_seq = 1;
    message.body.sdiag_family = AF_INET;
    message.body.sdiag_protocol = IPPROTO_TCP;
    message.body.idiag_states = ~0u;
    message.body.id.idiag_sport = htons(request.localPort);
    message.body.id.idiag_dport = htons(request.remotePort);
    message.body.id.idiag_src[0] = request.localAddress;
    message.body.id.idiag_dst[0] = request.remoteAddress;
    message.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(nl, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        int error = errno;
        close(nl);
        return error;
    }
    alignas(nlmsghdr) char reply[512];
    ssize_t n = recv(nl, reply, sizeof reply, 0);
    int error = n < 0 ? errno : EPROTO;
    close(nl);
    if (n >= ssize_t(NLMSG_LENGTH(sizeof(nlmsgerr)))) {
        const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
        if (header->nlmsg_type == NLMSG_ERROR) {
            const auto* ack = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
            error = -ack->error;
        }
    }
    return error;
}

}  // namespace

int main()
{
    if (!IsSeqPacketChannel(kChannel))
        return 2;

    char text[kNetcapMaxMessage + 1];
    iovec iov{text, sizeof text};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n = recvmsg(kChannel, &msg, 0);
    if (n <= 0)
        return 2;
    auto request = (msg.msg_flags & MSG_TRUNC) ? std::nullopt
                                               : ParseNetcapRequest(std::string_view(text, size_t(n)));
    if (!request) {
        Answer(EINVAL, -1);
        return 1;
    }

    int error = 0;
    int fd = -1;
    switch (request->kind) {
    case NetcapKind::RawIcmp:
        fd = OpenRawIcmp(error);
        break;
    case NetcapKind::PacketSocket:
        fd = OpenPacketSocket(request->interfaceName, error);
        break;
    case NetcapKind::KillTcp:
        error = KillTcpConnection(*request);
        break;
    }
    bool sent = Answer(error, fd);
    if (fd >= 0)
        close(fd);
    return sent && error == 0 ? 0 : 1;
}
