#pragma once

// Known traffic for the capture's peer tests: shaped IPv4 packets sent as they
// stand, and two namespaces joined by a veth pair to carry them. Needs root.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/Ipv4FrameBuilder.h"
#include "support/TestNamespace.h"

// Sends each packet, IP header included, through a raw socket to its
// destination; or, given an interface, in an Ethernet broadcast frame of its
// own padded with zeros to 60 bytes, as a network card pads it.
inline bool SendFrames(const std::vector<Ipv4Frame>& frames, const char* interface = nullptr)
{
    const int fd = interface ? ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0)
                             : ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    sockaddr_ll link{.sll_family = AF_PACKET, .sll_ifindex = interface ? int(if_nametoindex(interface)) : 0,
                     .sll_halen = ETH_ALEN};
    std::memset(link.sll_addr, 0xFF, ETH_ALEN);
    bool ok = fd >= 0 && (!interface || link.sll_ifindex != 0);
    for (const Ipv4Frame& f : frames) {
        std::vector<std::uint8_t> bytes = f.Bytes();
        sockaddr_in ip{.sin_family = AF_INET, .sin_addr = {htonl(f.dest)}};
        sockaddr* to = reinterpret_cast<sockaddr*>(&ip);
        socklen_t toLength = sizeof ip;
        if (interface) {
            // to ff:ff:ff:ff:ff:ff from 02:ff:ff:ff:ff:ff, IPv4
            const std::uint8_t header[14] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 8, 0};
            bytes.insert(bytes.begin(), header, header + 14);
            bytes.resize(std::max<std::size_t>(bytes.size(), 60), 0);
            to = reinterpret_cast<sockaddr*>(&link);
            toLength = sizeof link;
        }
        ok = ok && ::sendto(fd, bytes.data(), bytes.size(), 0, to, toLength) == ssize_t(bytes.size());
    }
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Namespaces NAMEa-PID with a0 10.215.0.1/24 and NAMEb-PID with b0 10.215.0.2/24,
// joined by a veth pair. Removed when destroyed.
class VethPair {
public:
    explicit VethPair(const std::string& name) : a_(name + "a"), b_(name + "b")
    {
        up_ = a_.Ok() && b_.Ok() && a_.Ip("link add a0 type veth peer name b0 netns " + b_.Name()) &&
              a_.Ip("addr add 10.215.0.1/24 dev a0") && b_.Ip("addr add 10.215.0.2/24 dev b0") &&
              a_.Ip("link set a0 up") && b_.Ip("link set b0 up");
    }
    bool Up() const { return up_; }
    const std::string& Namespace(char side) const { return side == 'a' ? a_.Name() : b_.Name(); }

    // Moves the calling thread into the namespace ns while it lives.
    class Entered {
    public:
        explicit Entered(const std::string& ns) : home_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC))
        {
            const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            ok_ = fd >= 0 && home_ >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
            if (fd >= 0)
                ::close(fd);
        }
        ~Entered()
        {
            if (ok_)
                ::setns(home_, CLONE_NEWNET);
            if (home_ >= 0)
                ::close(home_);
        }
        bool Ok() const { return ok_; }

    private:
        int home_;
        bool ok_ = false;
    };

private:
    TestNamespace a_, b_;
    bool up_ = false;
};
