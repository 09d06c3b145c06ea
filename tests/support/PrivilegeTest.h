#pragma once

// For tests of what needs privilege: the helper installed as it would be (a
// copy root:quorlix 0750 with its file capabilities), this test program run
// again as an unprivileged user, and loopback TCP connections to kill.

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// The built helper, prepared by scripts/setup-helper.sh in a directory of its
// own under the build tree (file capabilities work there; a nosuid /tmp would
// ignore them), removed again at the end.
class InstalledHelperCopy {
public:
    InstalledHelperCopy()
        : dir_(QUORLIX_BINARY_DIR "/helper-copy-" + std::to_string(getpid())), path_(dir_ + "/quorlix-netcap")
    {
        std::filesystem::create_directories(dir_);
        std::filesystem::permissions(dir_, std::filesystem::perms(0755));
        ready_ = std::filesystem::copy_file(QUORLIX_BINARY_DIR "/src/quorlix-netcap", path_) &&
                 std::system((QUORLIX_SOURCE_DIR "/scripts/setup-helper.sh --sanitized-copy " + path_).c_str()) == 0;
        const group* g = getgrnam("quorlix");
        gid_ = g ? g->gr_gid : 0;
        ready_ = ready_ && g;
    }
    ~InstalledHelperCopy() { std::filesystem::remove_all(dir_); }
    InstalledHelperCopy(const InstalledHelperCopy&) = delete;
    InstalledHelperCopy& operator=(const InstalledHelperCopy&) = delete;

    bool Ready() const { return ready_; }
    const std::string& Path() const { return path_; }
    gid_t Group() const { return gid_; }

private:
    std::string dir_, path_;
    gid_t gid_ = 0;
    bool ready_ = false;
};

// Runs the tests of this program that filter names, with environment
// assignments env ("A=1 B=2"), in network namespace ns; as nobody:nogroup
// with the extra group gid when asNobody (none for gid 0), else as root.
// True when they all passed.
inline bool RunSelf(const std::string& ns, const std::string& env, const std::string& filter, bool asNobody,
                    gid_t gid)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string groups = gid ? "--groups=" + std::to_string(gid) : std::string("--clear-groups");
    const std::string user =
        asNobody ? "setpriv --reuid=nobody --regid=nogroup " + groups + " --inh-caps=-all " : "";
    const std::string command =
        "ip netns exec " + ns + " env " + env + " " + user + self + " --gtest_filter='" + filter + "' --gtest_brief=1";
    return std::system(command.c_str()) == 0;
}

// A listening TCP socket on address (IPv4 text, or "::" for a dual-stack
// one), any port; -1 on failure.
inline int ListenTcp(const std::string& address, std::uint16_t& port)
{
    const bool v6 = address.find(':') != std::string::npos;
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int off = 0;
    sockaddr_storage where{};
    socklen_t length;
    if (v6) {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&where);
        in6->sin6_family = AF_INET6;
        inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
        length = sizeof *in6;
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&where);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = inet_addr(address.c_str());
        length = sizeof *in;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), length) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&where)->sin6_port
                    : reinterpret_cast<sockaddr_in*>(&where)->sin_port);
    return fd;
}

// A connection from 127.0.0.1 to 127.0.0.1:port: the client's socket and
// its local port; -1 on failure.
inline int ConnectTcp(std::uint16_t port, std::uint16_t& localPort)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    socklen_t length = sizeof to;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&to), &length) != 0) {
        close(fd);
        return -1;
    }
    localPort = ntohs(to.sin_port);
    return fd;
}

// A UDP socket bound to 127.0.0.1 on a port of the kernel's choice, given in port.
inline int UdpSocket(std::uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    bind(fd, reinterpret_cast<sockaddr*>(&where), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
    port = ntohs(where.sin_port);
    return fd;
}

inline void SendUdp(int fd, const char* address, std::uint16_t port, const std::string& payload)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(address);
    to.sin_port = htons(port);
    sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}
