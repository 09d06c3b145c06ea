#pragma once

// For tests of what needs privilege: the helper installed as it would be, this test program run again as an
// unprivileged user, and loopback sockets.

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

// The built helper as scripts/setup-helper.sh installs it, into a directory of the build tree: the set-up
// wants one only root can write, every directory above it too, and a nosuid /tmp would ignore its file
// capabilities.
class InstalledHelperCopy {
public:
    InstalledHelperCopy()
    {
        const group* g = getgrnam("quorlix");
        gid_ = g ? g->gr_gid : 0;
        ready_ = g && std::system((QUORLIX_SOURCE_DIR "/scripts/setup-helper.sh --sanitized-copy " QUORLIX_BINARY_DIR
                                   "/src/quorlix-netcap " + dir_).c_str()) == 0;
    }
    ~InstalledHelperCopy() { std::filesystem::remove_all(dir_); }
    InstalledHelperCopy(const InstalledHelperCopy&) = delete;
    InstalledHelperCopy& operator=(const InstalledHelperCopy&) = delete;

    bool Ready() const { return ready_; }
    std::string Path() const { return dir_ + "/quorlix-netcap"; }
    gid_t Group() const { return gid_; }

private:
    std::string dir_ = QUORLIX_BINARY_DIR "/helper-copy-" + std::to_string(getpid());
    gid_t gid_ = 0;
    bool ready_ = false;
};

// Runs the tests of this program that filter names, with env ("A=1 B=2"), in namespace ns: as nobody:nogroup
// with the extra group gid (none for 0) when asNobody, else as root. True when they all passed.
inline bool RunSelf(const std::string& ns, const std::string& env, const std::string& filter, bool asNobody,
                    gid_t gid)
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

// A TCP listener on address (IPv4, or "::" for a dual-stack one) and port, the kernel's choice for 0, given
// back in port; -1 on failure.
inline int ListenTcp(const std::string& address, std::uint16_t& port)
{
    const bool v6 = address.find(':') != std::string::npos;
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1, off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 where{.sin6_family = sa_family_t(v6 ? AF_INET6 : AF_INET)};  // large enough for either family
    auto* in = reinterpret_cast<sockaddr_in*>(&where);
    socklen_t length = v6 ? sizeof where : sizeof *in;
    if (v6)
        inet_pton(AF_INET6, address.c_str(), &where.sin6_addr);
    else
        in->sin_addr.s_addr = inet_addr(address.c_str());
    (v6 ? where.sin6_port : in->sin_port) = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), length) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0)
        return close(fd), -1;
    port = ntohs(v6 ? where.sin6_port : in->sin_port);
    return fd;
}

// A connection from 127.0.0.1:localPort (the kernel's choice for 0, given back) to 127.0.0.1:port; -1 on failure.
inline int ConnectTcp(std::uint16_t port, std::uint16_t& localPort)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from = LoopbackAddress(localPort);
    const sockaddr_in to = LoopbackAddress(port);
    socklen_t length = sizeof from;
    if ((localPort && bind(fd, reinterpret_cast<sockaddr*>(&from), length) != 0) ||
        connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&from), &length) != 0)
        return close(fd), -1;
    localPort = ntohs(from.sin_port);
    return fd;
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
    sockaddr_in where = LoopbackAddress(0);
    socklen_t length = sizeof where;
    bind(fd, reinterpret_cast<sockaddr*>(&where), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
    port = ntohs(where.sin_port);
    return fd;
}

inline void SendUdp(int fd, const char* address, std::uint16_t port, const std::string& payload)
{
    sockaddr_in to = LoopbackAddress(port);
    to.sin_addr.s_addr = inet_addr(address);
    sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}
