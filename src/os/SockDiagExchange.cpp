#include "os/SockDiagExchange.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "os/Fd.h"

namespace {

constexpr int kMoreToCome = -1;

// Walks the messages of one received datagram: kMoreToCome, or the answer's
// end: 0, or the errno it carried.
int WalkAnswer(const char* buffer, std::size_t size, bool single,
               const std::function<bool(const nlmsghdr&)>& onMessage)
{
    for (std::size_t at = 0; size - at >= sizeof(nlmsghdr);) {
        const auto* header = reinterpret_cast<const nlmsghdr*>(buffer + at);  // at stays aligned
        if (header->nlmsg_len < sizeof(nlmsghdr) || header->nlmsg_len > size - at)
            return EPROTO;
        if (header->nlmsg_type == NLMSG_DONE)
            return 0;
        if (header->nlmsg_type == NLMSG_ERROR) {
            if (header->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                return EPROTO;
            const int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
            return error >= 0 ? error : EPROTO;
        }
        if (!onMessage(*header) || single)
            return 0;
        at += std::min<std::size_t>(NLMSG_ALIGN(header->nlmsg_len), size - at);
    }
    return kMoreToCome;
}

}  // namespace

int SockDiagExchange(const void* request, std::size_t size, const std::function<bool(const nlmsghdr&)>& onMessage)
{
    if (!request || size < sizeof(nlmsghdr))
        return EINVAL;
    nlmsghdr head;
    std::memcpy(&head, request, sizeof head);
    const bool single = !(head.nlmsg_flags & (NLM_F_DUMP | NLM_F_ACK));

    const Fd nl(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!nl.Valid())
        return errno;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    int error = 0;
    if (sendto(nl.Get(), request, size, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        error = errno;
    } else {
        std::vector<char> buffer(32768);  // operator new aligns it for nlmsghdr
        for (;;) {
            sockaddr_nl from{};
            socklen_t fromLength = sizeof from;
            ssize_t n =
                recvfrom(nl.Get(), buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : EPROTO;
                break;
            }
            if (from.nl_pid != 0)
                continue;  // only the kernel answers
            error = WalkAnswer(buffer.data(), std::size_t(n), single, onMessage);
            if (error != kMoreToCome)
                break;
        }
    }
    return error;
}
