#pragma once

// For tests of what needs privilege: the helper installed as it would be, this test program run again as an
// unprivileged user, and loopback sockets.
#include <arpa/inet.h>
#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

// The built helper as scripts/setup-helper.sh installs it, into the build tree: the set-up wants a directory only
// root can write, every directory above it too, and a nosuid /tmp would ignore its file capabilities.
class InstalledHelperCopy {
public:
    ~InstalledHelperCopy() { std::filesystem::remove_all(dir_); }
    bool Ready() const { return ready_; }
    std::string Path() const { return dir_ + "/quorlix-netcap"; }
    gid_t Group() const { return gid_; }

private:
    const std::string dir_ = QUORLIX_BINARY_DIR "/helper-copy-" + std::to_string(getpid());
    const gid_t gid_ = getgrnam("quorlix") ? getgrnam("quorlix")->gr_gid : 0;
    const bool ready_ = gid_ && std::system((QUORLIX_SOURCE_DIR "/scripts/setup-helper.sh --sanitized-copy "
                                             QUORLIX_BINARY_DIR "/src/quorlix-netcap " + dir_).c_str()) == 0;
};

// Runs the tests of this program that filter names, with env ("A=1 B=2"), in namespace ns: as nobody:nogroup
// with the extra group gid (none for 0) when asNobody, else as root. True when they all passed.
inline bool RunSelf(const std::string& ns, const std::string& env, const std::string& filter, bool asNobody, gid_t gid)
{
    const std::string groups = gid ? "--groups=" + std::to_string(gid) : std::string("--clear-groups");
    const std::string user = asNobody ? "setpriv --reuid=nobody --regid=nogroup " + groups + " --inh-caps=-all " : "";
    return std::system(("ip netns exec " + ns + " env " + env + " " + user +
                        std::filesystem::read_symlink("/proc/self/exe").string() + " --gtest_filter='" + filter +
                        "' --gtest_brief=1").c_str()) == 0;
}

inline sockaddr_in LoopbackAddress(std::uint16_t port)
{
    return {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

// Binds fd to address (IPv4 or IPv6) and port, the kernel's choice for 0, given back in port.
inline bool Bound(int fd, const std::string& address, std::uint16_t& port)
{
    sockaddr_in6 where{.sin6_family = AF_INET6, .sin6_port = htons(port)};
    auto* in = reinterpret_cast<sockaddr_in*>(&where);  // sin_port lies where sin6_port does
    socklen_t length = sizeof where;
    if (inet_pton(AF_INET6, address.c_str(), &where.sin6_addr) != 1)
        *in = {AF_INET, htons(port), {inet_addr(address.c_str())}, {}}, length = sizeof *in;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&where), length) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) == 0;
    port = bound ? ntohs(in->sin_port) : port;
    return bound;
}

// A TCP listener on address ("::" for a dual-stack one) and port (0: the kernel's choice, given back); -1 on failure.
inline int ListenTcp(const std::string& address, std::uint16_t& port)
{
    const int fd = socket(address.find(':') == std::string::npos ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1, off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    return Bound(fd, address, port) && listen(fd, 16) == 0 ? fd : (close(fd), -1);
}

// A connection from 127.0.0.1:localPort (the kernel's choice for 0, given back) to 127.0.0.1:port; -1 on failure.
inline int ConnectTcp(std::uint16_t port, std::uint16_t& localPort)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = LoopbackAddress(port);
    const bool ok = Bound(fd, "127.0.0.1", localPort) && connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    return ok ? fd : (close(fd), -1);
}

// The error a read of fd meets now: 0 for data or the end of the stream, EAGAIN for nothing yet.
inline int SocketError(int fd)
{
    char byte;
    return recv(fd, &byte, 1, MSG_DONTWAIT) < 0 ? errno : 0;
}

// A UDP socket bound to 127.0.0.1 on a port of the kernel's choice, given in port.
inline int UdpSocket(std::uint16_t& port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return Bound(fd, "127.0.0.1", port = 0) ? fd : (close(fd), -1);
}

inline void SendUdp(int fd, const char* address, std::uint16_t port, const std::string& payload)
{
    sockaddr_in to = LoopbackAddress(port);
    to.sin_addr.s_addr = inet_addr(address);
    sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}
