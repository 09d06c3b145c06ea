#include "privilege/SockDiag.h"

#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "os/SockDiagExchange.h"

namespace {

struct DiagRequest {
    nlmsghdr header;
    inet_diag_req_v2 body;
};

DiagRequest MakeRequest(std::uint16_t type, std::uint16_t flags, const inet_diag_sockid& id, std::uint8_t family)
{
    DiagRequest message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = type;
    message.header.nlmsg_flags = flags;
    message.header.nlmsg_seq = 1;
    message.body.sdiag_family = family;
    message.body.sdiag_protocol = IPPROTO_TCP;
    message.body.idiag_states = 1u << TCP_ESTABLISHED;
    message.body.id = id;
    return message;
}

// The connection's fields as a socket id of family: an IPv4 connection in
// AF_INET has the addresses in the first word, in AF_INET6 IPv4-mapped; an
// IPv6 one has them whole, and its zone as the interface.
inet_diag_sockid SocketId(const TcpConnectionAddress& c, std::uint8_t family)
{
    inet_diag_sockid id{};
    id.idiag_sport = htons(c.localPort);
    id.idiag_dport = htons(c.remotePort);
    const std::uint32_t mapped = htonl(0xFFFF);
    if (c.localAddress.IsV6()) {
        std::memcpy(id.idiag_src, c.localAddress.Bytes(), sizeof id.idiag_src);
        std::memcpy(id.idiag_dst, c.remoteAddress.Bytes(), sizeof id.idiag_dst);
        id.idiag_if = c.localAddress.Scope() ? c.localAddress.Scope() : c.remoteAddress.Scope();
    } else if (family == AF_INET) {
        id.idiag_src[0] = c.localAddress.V4();
        id.idiag_dst[0] = c.remoteAddress.V4();
    } else {
        id.idiag_src[2] = id.idiag_dst[2] = mapped;
        id.idiag_src[3] = c.localAddress.V4();
        id.idiag_dst[3] = c.remoteAddress.V4();
    }
    id.idiag_cookie[0] = id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return id;
}

// The interface counts for an IPv6 connection only: a zone picks one link's.
bool SameFields(const inet_diag_sockid& a, const inet_diag_sockid& b, bool ipv6)
{
    return a.idiag_sport == b.idiag_sport && a.idiag_dport == b.idiag_dport &&
           std::memcmp(a.idiag_src, b.idiag_src, sizeof a.idiag_src) == 0 &&
           std::memcmp(a.idiag_dst, b.idiag_dst, sizeof a.idiag_dst) == 0 && (!ipv6 || a.idiag_if == b.idiag_if);
}

// The families to look an address pair up in; none for a pair that is no connection.
std::vector<std::uint8_t> LookupFamilies(const TcpConnectionAddress& c)
{
    const IpAddress& l = c.localAddress;
    const IpAddress& r = c.remoteAddress;
    if (l.IsV4() && r.IsV4())
        return {AF_INET, AF_INET6};
    if (l.IsV6() && r.IsV6() && (l.Scope() == 0 || r.Scope() == 0 || l.Scope() == r.Scope()))
        return {AF_INET6};
    return {};
}

}  // namespace

int DestroyTcpConnection(const TcpConnectionAddress& connection)
{
    const std::vector<std::uint8_t> families = LookupFamilies(connection);
    int result = families.empty() ? EINVAL : ENOENT;
    for (std::uint8_t family : families) {
        const inet_diag_sockid wanted = SocketId(connection, family);
        const DiagRequest lookup = MakeRequest(SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST, wanted, family);
        bool found = false;
        inet_diag_msg socket{};
        int error = SockDiagExchange(&lookup, sizeof lookup, [&](const nlmsghdr& header) {
            if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY && header.nlmsg_len >= NLMSG_LENGTH(sizeof socket)) {
                std::memcpy(&socket, NLMSG_DATA(&header), sizeof socket);
                found = true;
            }
            return false;
        });
        if (error != 0 && error != ENOENT)
            return error;
        // The kernel's lookup falls back to a listener when no connection
        // matches: only the very fields asked for count.
        if (!found || socket.idiag_family != family || !SameFields(socket.id, wanted, connection.localAddress.IsV6()))
            continue;
        if (socket.idiag_state != TCP_ESTABLISHED) {
            result = ENOTCONN;
            continue;
        }
        const DiagRequest destroy = MakeRequest(SOCK_DESTROY, NLM_F_REQUEST | NLM_F_ACK, socket.id, family);
        return SockDiagExchange(&destroy, sizeof destroy, [](const nlmsghdr&) { return true; });
    }
    return result;
}

TcpKillResult KillTcpConnection(const TcpConnectionAddress& connection, const CancelToken* token)
{
    TcpKillResult result;
    if (DoesItself(PrivilegedOperation::Kill)) {
        result.error = DestroyTcpConnection(connection);
        return result;
    }
    NetcapRequest request;
    request.kind = NetcapKind::KillTcp;
    request.localAddress = connection.localAddress;
    request.localPort = connection.localPort;
    request.remoteAddress = connection.remoteAddress;
    request.remotePort = connection.remotePort;
    NetcapSession session = OpenNetcapSession(request, token);
    result.failure = session.failure;
    result.error = session.error;
    return result;
}
