#pragma once

// Known traffic for the capture's peer tests: IPv4 packets shaped byte by byte
// (Ipv4FrameBuilder) sent through a raw socket, so their header lengths,
// options and fragments are exactly the test's; Ethernet frames under 60 bytes
// sent on one end of a veth pair; and namespaces to hold such a pair. Needs
// root (CAP_NET_RAW, CAP_SYS_ADMIN).
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/Ipv4FrameBuilder.h"

// Sends each packet as it stands, IP header included, to its destination.
inline bool SendRawPackets(const std::vector<Ipv4Frame>& frames)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (fd < 0)
        return false;
    bool ok = true;
    for (const Ipv4Frame& f : frames) {
        const auto bytes = f.Bytes();
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(f.dest);
        ok = ok && ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                       ssize_t(bytes.size());
    }
    ::close(fd);
    return ok;
}

// Sends each packet in an Ethernet frame of its own on interface, padded with
// zeros to the Ethernet minimum of 60 bytes as a network card pads it.
inline bool SendPaddedFrames(const char* interface, const std::vector<Ipv4Frame>& frames)
{
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = int(if_nametoindex(interface));
    to.sll_halen = ETH_ALEN;
    std::memset(to.sll_addr, 0xFF, ETH_ALEN);
    bool ok = to.sll_ifindex != 0;
    for (const Ipv4Frame& f : frames) {
        std::vector<std::uint8_t> frame(12, 0xFF);  // broadcast to, and from, ff:ff:...: the peer takes it
        frame[6] = 0x02;  // locally administered unicast source
        frame.push_back(0x08);
        frame.push_back(0x00);
        const auto packet = f.Bytes();
        frame.insert(frame.end(), packet.begin(), packet.end());
        if (frame.size() < 60)
            frame.resize(60, 0);
        ok = ok && ::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                       ssize_t(frame.size());
    }
    ::close(fd);
    return ok;
}

// Two network namespaces joined by a veth pair: NAMEa with a0 10.215.0.1/24,
// NAMEb with b0 10.215.0.2/24, NAME unique to the run. Removed when destroyed.
class VethPair {
public:
    explicit VethPair(std::string name) : name_(std::move(name))
    {
        const std::string a = name_ + "a", b = name_ + "b";
        up_ = Run("ip netns add " + a + " && ip netns add " + b + " && ip -n " + a +
                  " link add a0 type veth peer name b0 netns " + b + " && ip -n " + a +
                  " addr add 10.215.0.1/24 dev a0 && ip -n " + b + " addr add 10.215.0.2/24 dev b0 && ip -n " + a +
                  " link set a0 up && ip -n " + b + " link set b0 up && ip -n " + a + " link set lo up && ip -n " +
                  b + " link set lo up");
    }
    ~VethPair() { Run("ip netns del " + name_ + "a 2>/dev/null; ip netns del " + name_ + "b 2>/dev/null; true"); }
    bool Up() const { return up_; }
    std::string Namespace(char side) const { return name_ + side; }

    // Runs fn on a thread inside namespace side ('a' or 'b'); false when it cannot enter.
    bool RunIn(char side, const std::function<void()>& fn) const
    {
        bool entered = false;
        std::thread([&] {
            Entered inside(Namespace(side));
            if ((entered = inside.Ok()))
                fn();
        }).join();
        return entered;
    }

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
    static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
    std::string name_;
    bool up_ = false;
};
