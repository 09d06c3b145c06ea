#include "hostinfo/SocketTable.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <system_error>
#include <thread>

#include "os/Fd.h"
#include "os/SockDiagExchange.h"

namespace {

// A dump the kernel marks as interrupted (a table changed under it) is read
// again at most this many times in all; after that, the last read stands.
constexpr int kDumpTries = 4;

// States 1 to 12: kernels from 6.8 dump bound-only sockets as state 13 when
// asked for all.
constexpr std::uint32_t kDumpStates = 0x1FFEu;

// One socket of a dump, either family, before it becomes a row.
struct DiagSocket {
    std::uint8_t family = 0;
    std::uint8_t state = 0;  // Linux numbering
    std::array<std::uint32_t, 4> src{};
    std::array<std::uint32_t, 4> dst{};
    std::uint16_t sport = 0;  // network byte order
    std::uint16_t dport = 0;
    std::uint32_t ifindex = 0;  // the interface the socket is bound to, 0 for none
    std::uint32_t inode = 0;
    bool v6only = false;
};

// A dump's reply: netlink messages, each an nlmsghdr and its payload padded to
// NLMSG_ALIGNTO; the dump ends with NLMSG_DONE, or NLMSG_ERROR carrying the
// errno. Each SOCK_DIAG_BY_FAMILY message is an inet_diag_msg followed by
// rtattr attributes, of which only INET_DIAG_SKV6ONLY (a u8) is read.
class DumpParser {
public:
    explicit DumpParser(std::vector<DiagSocket>* sockets) : sockets_(sockets) {}

    // Reads one or more whole messages; true once the dump has ended, or is broken.
    bool Feed(std::string_view messages);
    // 0, the kernel's errno, or EPROTO for a message cut short.
    int Result() const { return error_; }
    bool Interrupted() const { return interrupted_; }

private:
    void ReadSocket(std::string_view payload);

    std::vector<DiagSocket>* sockets_;
    bool ended_ = false;
    bool interrupted_ = false;
    int error_ = 0;
};

bool DumpParser::Feed(std::string_view messages)
{
    size_t pos = 0;
    while (!ended_ && pos < messages.size()) {
        nlmsghdr header;
        if (messages.size() - pos < sizeof header)
            break;
        std::memcpy(&header, messages.data() + pos, sizeof header);
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > messages.size() - pos)
            break;
        std::string_view payload = messages.substr(pos + sizeof header, header.nlmsg_len - sizeof header);
        pos += std::min<size_t>(NLMSG_ALIGN(header.nlmsg_len), messages.size() - pos);
        if (header.nlmsg_flags & NLM_F_DUMP_INTR)
            interrupted_ = true;
        if (header.nlmsg_type == NLMSG_DONE) {
            ended_ = true;
        } else if (header.nlmsg_type == NLMSG_ERROR) {
            int error = 0;
            if (payload.size() >= sizeof error)
                std::memcpy(&error, payload.data(), sizeof error);
            ended_ = true;
            error_ = error < 0 ? -error : EPROTO;
        } else if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY && payload.size() >= sizeof(inet_diag_msg)) {
            ReadSocket(payload);
        }
    }
    if (!ended_ && pos < messages.size()) {
        ended_ = true;
        error_ = EPROTO;
    }
    return ended_;
}

void DumpParser::ReadSocket(std::string_view payload)
{
    inet_diag_msg message;
    std::memcpy(&message, payload.data(), sizeof message);
    DiagSocket& socket = sockets_->emplace_back();
    socket.family = message.idiag_family;
    socket.state = message.idiag_state;
    std::memcpy(socket.src.data(), message.id.idiag_src, sizeof message.id.idiag_src);
    std::memcpy(socket.dst.data(), message.id.idiag_dst, sizeof message.id.idiag_dst);
    socket.sport = message.id.idiag_sport;
    socket.dport = message.id.idiag_dport;
    socket.ifindex = message.id.idiag_if;
    socket.inode = message.idiag_inode;
    for (size_t at = NLMSG_ALIGN(sizeof message); payload.size() >= at + sizeof(rtattr);) {
        rtattr attribute;
        std::memcpy(&attribute, payload.data() + at, sizeof attribute);
        if (attribute.rta_len < sizeof attribute || attribute.rta_len > payload.size() - at)
            break;
        if (attribute.rta_type == INET_DIAG_SKV6ONLY && attribute.rta_len > sizeof attribute)
            socket.v6only = payload[at + sizeof attribute] != 0;
        at += RTA_ALIGN(attribute.rta_len);
    }
}

// One family's sockets of one protocol, with the bounded re-reading.
int ReadDump(SockDiagSource& source, std::uint8_t family, std::uint8_t protocol, std::vector<DiagSocket>* sockets)
{
    for (int attempt = 1;; ++attempt) {
        sockets->clear();
        DumpParser parser(sockets);
        if (int error = source.Dump(family, protocol, kDumpStates, [&](std::string_view d) { return parser.Feed(d); }))
            return error;
        if (int error = parser.Result())
            return error;
        if (!parser.Interrupted())
            return 0;
        if (attempt == kDumpTries)
            return sockets->empty() ? EAGAIN : 0;
    }
}

bool IsUnspecified(const std::array<std::uint32_t, 4>& a)
{
    return a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0;
}

bool IsV4Mapped(const std::array<std::uint32_t, 4>& a)
{
    return a[0] == 0 && a[1] == 0 && a[2] == htonl(0xFFFF);
}

// The IPv4 view of a socket: an AF_INET socket as it is; an AF_INET6 one whose
// addresses are IPv4-mapped as those IPv4 addresses; a dual-stack AF_INET6
// socket bound to "::" (a TCP listener, or any UDP socket) as 0.0.0.0. Other
// AF_INET6 sockets have none. The address fields are rewritten in place.
bool ToIpv4(DiagSocket& s, bool udp)
{
    if (s.family == AF_INET)
        return true;
    if (s.family != AF_INET6)
        return false;
    if (IsV4Mapped(s.src) && (IsV4Mapped(s.dst) || IsUnspecified(s.dst))) {
        s.src[0] = s.src[3];
        s.dst[0] = s.dst[3];
        return true;
    }
    if (IsUnspecified(s.src) && !s.v6only && (udp || s.state == TCP_LISTEN)) {
        s.src[0] = 0;
        s.dst[0] = 0;
        return true;
    }
    return false;
}

// /proc/net/tcp and friends: a heading line, then per socket
// "sl: local rem st tx:rx tr:when retrnsmt uid timeout inode ...", each
// address as %08X of every 32-bit word as it stands in memory and the port as
// %04X in host order, the state in hex, the inode in decimal.
bool ParseProcTable(const std::string& text, std::uint8_t family, std::vector<DiagSocket>* sockets)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line))
        return false;
    const size_t words = family == AF_INET6 ? 4 : 1;
    auto readEnd = [words](const std::string& field, std::array<std::uint32_t, 4>& address, std::uint16_t& port) {
        if (field.size() != words * 8 + 5 || field[words * 8] != ':')
            return false;
        for (size_t i = 0; i < words; ++i)
            address[i] = std::uint32_t(std::strtoul(field.substr(i * 8, 8).c_str(), nullptr, 16));
        port = htons(std::uint16_t(std::strtoul(field.c_str() + words * 8 + 1, nullptr, 16)));
        return true;
    };
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state))
            continue;
        fields >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        DiagSocket s;
        s.family = family;
        s.state = std::uint8_t(std::strtoul(state.c_str(), nullptr, 16));
        s.inode = std::uint32_t(std::strtoul(inode.c_str(), nullptr, 10));
        if (!readEnd(local, s.src, s.sport) || !readEnd(remote, s.dst, s.dport))
            continue;
        sockets->push_back(s);
    }
    return true;
}

bool DiagMissing(int error)
{
    return error == ENOENT || error == EPROTONOSUPPORT || error == EAFNOSUPPORT;
}

// An IPv6 end as a row shows it: a link-local address with the zone of the
// socket's interface, any other without one.
IpAddress Ipv6End(const std::array<std::uint32_t, 4>& words, std::uint32_t ifindex)
{
    in6_addr address;
    std::memcpy(&address, words.data(), sizeof address);
    return IpAddress::V6(address, IN6_IS_ADDR_LINKLOCAL(&address) ? ifindex : 0);
}

// Both families' sockets of one protocol, each made a row: the IPv4 view
// where there is one, else an IPv6 row.
template <class Row>
bool ReadSockets(SockDiagSource& source, std::uint8_t protocol, std::vector<Row>* rows,
                 Row (*row)(const DiagSocket&), Row (*row6)(const DiagSocket&))
{
    const bool udp = protocol == IPPROTO_UDP;
    std::vector<DiagSocket> all, v6;
    std::vector<DiagSocket>* sockets = &all;
    // The kernel walks every socket of the protocol for each family's dump,
    // which is most of the time a long table takes: the two walks run side
    // by side where a second thread can be had.
    int error6 = 0;
    const auto readV6 = [&] { error6 = ReadDump(source, AF_INET6, protocol, &v6); };
    std::thread second;
    try {
        second = std::thread(readV6);
    } catch (const std::system_error&) {
        readV6();
    }
    int error = ReadDump(source, AF_INET, protocol, sockets);
    if (second.joinable())
        second.join();
    if (error == 0) {
        // A host without IPv6 simply has no second table.
        if (error6 != 0)
            v6.clear();
    } else if (DiagMissing(error)) {
        sockets->clear();
        std::string text;
        const char* name = udp ? "udp" : "tcp";
        if (!source.ProcTable(name, &text) || !ParseProcTable(text, AF_INET, sockets))
            return false;
        if (source.ProcTable(udp ? "udp6" : "tcp6", &text))
            ParseProcTable(text, AF_INET6, &v6);
    } else {
        return false;
    }
    rows->clear();
    rows->reserve(sockets->size() + v6.size());
    for (const DiagSocket& s : *sockets)
        rows->push_back(row(s));
    for (DiagSocket& s : v6)
        rows->push_back(ToIpv4(s, udp) ? row(s) : row6(s));
    return true;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The directory at path under at, for reading its entries.
DirHandle OpenDirectory(int at, const char* path)
{
    Fd fd(openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = fd.Valid() ? fdopendir(fd.Get()) : nullptr;
    if (dir)
        fd.Release();  // the directory stream closes it now
    return DirHandle(dir);
}

// A decimal name (a pid, a socket's inode), or 0 for any other.
std::uint32_t DecimalName(std::string_view text)
{
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > 0xFFFFFFFFu / 10)
            return 0;
        value = value * 10 + std::uint64_t(c - '0');
    }
    return value > 0xFFFFFFFFu ? 0 : std::uint32_t(value);
}

// The inodes of the sockets among one process's descriptors, each once;
// false when the process's descriptors cannot be read.
bool SocketInodes(int root, std::uint32_t pid, std::vector<std::uint32_t>* inodes)
{
    const DirHandle dir = OpenDirectory(root, (std::to_string(pid) + "/fd").c_str());
    if (!dir)
        return false;
    inodes->clear();
    static constexpr std::string_view kSocket = "socket:[";
    char target[64];
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const ssize_t n = readlinkat(dirfd(dir.get()), entry->d_name, target, sizeof target);
        const std::string_view link(target, n > 0 ? size_t(n) : 0);
        if (link.size() > kSocket.size() + 1 && link.starts_with(kSocket) && link.back() == ']')
            if (const std::uint32_t inode = DecimalName(link.substr(kSocket.size(), link.size() - kSocket.size() - 1)))
                inodes->push_back(inode);
    }
    std::sort(inodes->begin(), inodes->end());
    inodes->erase(std::unique(inodes->begin(), inodes->end()), inodes->end());
    return true;
}

// "pid/comm", or nothing once the process has gone.
std::string OwnerText(int root, std::uint32_t pid)
{
    const Fd file(openat(root, (std::to_string(pid) + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
    char comm[64];
    const ssize_t n = file.Valid() ? read(file.Get(), comm, sizeof comm) : -1;
    if (n <= 0)
        return {};
    std::string text = std::to_string(pid) + '/';
    text.append(comm, size_t(n));
    if (text.back() == '\n')
        text.pop_back();
    for (char& c : text)
        if (std::uint8_t(c) < 0x20 || c == 0x7F)  // a line break in a name must not break the table
            c = '?';
    return text;
}

class KernelSource : public SockDiagSource {
public:
    int Dump(std::uint8_t family, std::uint8_t protocol, std::uint32_t states, const Chunk& chunk) override;
    bool ProcTable(const char* name, std::string* text) override;
};

int KernelSource::Dump(std::uint8_t family, std::uint8_t protocol, std::uint32_t states, const Chunk& chunk)
{
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.sdiag_family = family;
    request.body.sdiag_protocol = protocol;
    request.body.idiag_states = states;
    return SockDiagExchange(&request, sizeof request, [&](const nlmsghdr& message) {
        return !chunk(std::string_view(reinterpret_cast<const char*>(&message), message.nlmsg_len));
    });
}

bool KernelSource::ProcTable(const char* name, std::string* text)
{
    std::ifstream file(std::string("/proc/net/") + name);
    if (!file)
        return false;
    std::ostringstream all;
    all << file.rdbuf();
    *text = all.str();
    return true;
}

}  // namespace

std::uint32_t TableStateOf(int linuxState)
{
    switch (linuxState) {
    case TCP_CLOSE: return 1;
    case TCP_LISTEN: return 2;
    case TCP_SYN_SENT: return 3;
    case TCP_SYN_RECV: return 4;
    case TCP_ESTABLISHED: return 5;
    case TCP_FIN_WAIT1: return 6;
    case TCP_FIN_WAIT2: return 7;
    case TCP_CLOSE_WAIT: return 8;
    case TCP_CLOSING: return 9;
    case TCP_LAST_ACK: return 10;
    case TCP_TIME_WAIT: return 11;
    default: return 0;
    }
}

SocketOwners ReadSocketOwners(const char* procRoot)
{
    SocketOwners owners;
    const Fd root(open(procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const DirHandle dir = root.Valid() ? OpenDirectory(root.Get(), ".") : nullptr;
    if (!dir)
        return owners;
    std::vector<std::uint32_t> pids;
    while (const dirent* entry = readdir(dir.get()))
        if (const std::uint32_t pid = DecimalName(entry->d_name))
            pids.push_back(pid);
    std::sort(pids.begin(), pids.end());  // so that each socket's owners come in pid order
    std::vector<std::uint32_t> inodes;
    for (const std::uint32_t pid : pids) {
        if (!SocketInodes(root.Get(), pid, &inodes) || inodes.empty())
            continue;
        const std::string owner = OwnerText(root.Get(), pid);
        if (owner.empty())
            continue;
        for (const std::uint32_t inode : inodes) {
            std::string& text = owners[inode];
            if (!text.empty())
                text += ',';
            text += owner;
        }
    }
    return owners;
}

SockDiagSource& KernelSockDiag()
{
    static KernelSource source;
    return source;
}

bool ReadTcpSockets(std::vector<TcpRow>* rows, SockDiagSource& source)
{
    return ReadSockets<TcpRow>(
        source, IPPROTO_TCP, rows,
        [](const DiagSocket& s) { return TcpRow{TableStateOf(s.state), s.src[0], s.sport, s.dst[0], s.dport, {}, {}, s.inode}; },
        [](const DiagSocket& s) {
            return TcpRow{TableStateOf(s.state), 0, s.sport, 0, s.dport, Ipv6End(s.src, s.ifindex), Ipv6End(s.dst, s.ifindex), s.inode};
        });
}

bool ReadUdpSockets(std::vector<UdpRow>* rows, SockDiagSource& source)
{
    return ReadSockets<UdpRow>(
        source, IPPROTO_UDP, rows, [](const DiagSocket& s) { return UdpRow{s.src[0], s.sport, {}, s.inode}; },
        [](const DiagSocket& s) { return UdpRow{0, s.sport, Ipv6End(s.src, s.ifindex), s.inode}; });
}
