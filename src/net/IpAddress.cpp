#include "net/IpAddress.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "os/PollWait.h"
#include "os/SocketIo.h"
#include "os/Waker.h"

IpAddress IpAddress::V4(std::uint32_t networkOrder)
{
    IpAddress a;
    a.family_ = AF_INET;
    std::memcpy(a.bytes_.data(), &networkOrder, 4);
    return a;
}

IpAddress IpAddress::V6(const in6_addr& address, std::uint32_t scope)
{
    IpAddress a;
    a.family_ = AF_INET6;
    std::memcpy(a.bytes_.data(), &address, 16);
    a.scope_ = scope;
    return a;
}

IpAddress IpAddress::FromSockaddr(const sockaddr* address, socklen_t length, std::uint16_t* port)
{
    if (address && address->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
        sockaddr_in in;
        std::memcpy(&in, address, sizeof in);
        if (port)
            *port = ntohs(in.sin_port);
        return V4(in.sin_addr.s_addr);
    }
    if (address && address->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))) {
        sockaddr_in6 in6;
        std::memcpy(&in6, address, sizeof in6);
        if (port)
            *port = ntohs(in6.sin6_port);
        return V6(in6.sin6_addr, in6.sin6_scope_id);
    }
    return {};
}

std::uint32_t IpAddress::V4() const
{
    std::uint32_t value = 0;
    if (IsV4())
        std::memcpy(&value, bytes_.data(), 4);
    return value;
}

in6_addr IpAddress::V6() const
{
    in6_addr value{};
    if (IsV6())
        std::memcpy(&value, bytes_.data(), 16);
    return value;
}

bool IpAddress::IsNeverAHost() const
{
    if (IsV4())
        return V4() == 0 || V4() == 0xFFFFFFFFu;
    if (IsV6()) {
        const in6_addr a = V6();
        return IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_MULTICAST(&a);
    }
    return true;
}

socklen_t IpAddress::ToSockaddr(std::uint16_t port, sockaddr_storage& out) const
{
    out = {};
    if (IsV4()) {
        auto* in = reinterpret_cast<sockaddr_in*>(&out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = V4();
        return sizeof(sockaddr_in);
    }
    if (IsV6()) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        in6->sin6_addr = V6();
        in6->sin6_scope_id = scope_;
        return sizeof(sockaddr_in6);
    }
    return 0;
}

WaitResult ConnectToAddress(int fd, const IpAddress& address, std::uint16_t port, const CancelToken* token,
                            std::chrono::steady_clock::time_point deadline)
{
    sockaddr_storage to;
    const socklen_t length = address.ToSockaddr(port, to);
    return ConnectWithin(fd, reinterpret_cast<const sockaddr*>(&to), length, token, deadline);
}

std::optional<IpAddress> ParseIpv6Literal(std::string_view text)
{
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.find(':') == std::string_view::npos || text.size() > INET6_ADDRSTRLEN + IF_NAMESIZE)
        return std::nullopt;
    // getaddrinfo rather than inet_pton: it also reads the zone, by name or index.
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (getaddrinfo(std::string(text).c_str(), nullptr, &hints, &list) != 0 || !list)
        return std::nullopt;
    IpAddress address = IpAddress::FromSockaddr(list->ai_addr, list->ai_addrlen);
    freeaddrinfo(list);
    if (address.IsNone())
        return std::nullopt;
    return address;
}

std::optional<IpAddress> ParseIpLiteral(std::string_view text)
{
    in_addr in{};
    if (text.size() < INET_ADDRSTRLEN && inet_pton(AF_INET, std::string(text).c_str(), &in) == 1)
        return IpAddress::V4(in.s_addr);
    return ParseIpv6Literal(text);
}

std::string IpText(const IpAddress& address)
{
    char text[INET6_ADDRSTRLEN];
    // glibc's inet_ntop writes RFC 5952's form: no :: for a single zero group,
    // the first of equal runs, lower-case hex.
    if (address.IsNone() || !inet_ntop(address.Family(), address.Bytes(), text, sizeof text))
        return {};
    std::string out = text;
    if (address.IsV6() && address.Scope() != 0) {
        char name[IF_NAMESIZE];
        out += '%';
        out += if_indextoname(address.Scope(), name) ? name : std::to_string(address.Scope());
    }
    return out;
}

std::string IpPortText(const IpAddress& address, std::uint16_t port)
{
    const std::string text = IpText(address);
    return (address.IsV6() ? "[" + text + "]" : text) + ":" + std::to_string(port);
}

std::string ReverseLookupName(const IpAddress& address)
{
    std::string name;
    const std::uint8_t* b = address.Bytes();
    if (address.IsV4()) {
        for (int i = 3; i >= 0; --i)
            name += std::to_string(b[i]) + ".";
        return name + "in-addr.arpa";
    }
    if (address.IsV6()) {
        static constexpr char kHex[] = "0123456789abcdef";
        for (int i = 15; i >= 0; --i) {
            name += kHex[b[i] & 0x0F];
            name += '.';
            name += kHex[b[i] >> 4];
            name += '.';
        }
        return name + "ip6.arpa";
    }
    return name;
}

namespace {

std::vector<IpAddress> ResolveNow(const char* name, int family)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address instead of one per socket type
    addrinfo* list = nullptr;
    std::vector<IpAddress> found;
    if (!name || getaddrinfo(name, nullptr, &hints, &list) != 0)
        return found;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        const IpAddress a = IpAddress::FromSockaddr(ai->ai_addr, ai->ai_addrlen);
        if (!a.IsNone() && std::find(found.begin(), found.end(), a) == found.end())
            found.push_back(a);
    }
    freeaddrinfo(list);
    std::stable_partition(found.begin(), found.end(), [](const IpAddress& a) { return a.IsV4(); });
    return found;
}

std::string NameOfNow(const IpAddress& address)
{
    sockaddr_storage sa;
    const socklen_t length = address.ToSockaddr(0, sa);
    char host[NI_MAXHOST];
    // NI_NAMEREQD: an address without a name is a failure, not its own text.
    if (length == 0 || getnameinfo(reinterpret_cast<const sockaddr*>(&sa), length, host, sizeof host, nullptr, 0,
                                   NI_NAMEREQD) != 0)
        return {};
    return host;
}

// What a look-up thread shares with the task that started it; it lives until
// both are done with it.
struct PendingLookup {
    std::string name;
    int family = AF_UNSPEC;
    IpAddress address;  // a look-up by address when not none
    Waker ready;  // signalled once found (or hostName) is written
    std::atomic<bool> done{false};
    std::vector<IpAddress> found;
    std::string hostName;
};

// Runs the look-up on a thread of its own while the caller waits beside token
// until the deadline; false when cancelled or out of time (the look-up then
// finishes alone), and without a thread it runs here.
bool AwaitLookup(const std::shared_ptr<PendingLookup>& lookup, const CancelToken* token,
                 std::chrono::steady_clock::time_point deadline)
{
    auto run = [](PendingLookup& l) {
        if (l.address.IsNone())
            l.found = ResolveNow(l.name.c_str(), l.family);
        else
            l.hostName = NameOfNow(l.address);
    };
    if (!token || !lookup->ready.Valid())
        return run(*lookup), true;
    try {
        std::thread([lookup, run] {
            run(*lookup);
            lookup->done.store(true, std::memory_order_release);
            lookup->ready.Signal();
        }).detach();
    } catch (const std::system_error&) {
        return run(*lookup), true;
    }
    for (;;) {
        switch (WaitForFd(lookup->ready.Fd(), POLLIN, token, deadline)) {
        case WaitResult::Ready:
            if (lookup->done.load(std::memory_order_acquire))
                return true;
            continue;
        case WaitResult::Cancelled:
        case WaitResult::TimedOut:
        case WaitResult::Failed:
            return false;
        }
    }
}

}  // namespace

std::vector<IpAddress> ResolveHostAddresses(const char* name, int family, const CancelToken* token,
                                            std::chrono::steady_clock::time_point deadline)
{
    if (!name)
        return {};
    auto lookup = std::make_shared<PendingLookup>();
    lookup->name = name;
    lookup->family = family;
    return AwaitLookup(lookup, token, deadline) ? lookup->found : std::vector<IpAddress>();
}

std::string ResolveAddressName(const IpAddress& address, const CancelToken* token,
                               std::chrono::steady_clock::time_point deadline)
{
    auto lookup = std::make_shared<PendingLookup>();
    lookup->address = address;
    return address.IsNone() || !AwaitLookup(lookup, token, deadline) ? std::string() : lookup->hostName;
}

IpAddress LookupHost(std::string_view text, const CancelToken* token, std::chrono::steady_clock::time_point deadline)
{
    if (auto literal = ParseIpv6Literal(text))
        return *literal;
    const std::string name(text);
    if (!name.empty() && name[0] >= '0' && name[0] <= '9')
        return IpAddress::V4(inet_addr(name.c_str()));  // INADDR_NONE (all ones) for anything not dotted
    const std::vector<IpAddress> found = ResolveHostAddresses(name.c_str(), AF_UNSPEC, token, deadline);
    return found.empty() ? IpAddress() : found.front();
}
