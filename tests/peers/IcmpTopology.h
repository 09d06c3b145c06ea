#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

// The routed test topology of scripts/netns-topology.sh under names unique to
// this process, torn down when the object goes:
//   h(10.200.1.2) -- r1(10.200.1.1|10.200.2.1) -- r2(10.200.2.2|10.200.3.1) -- t(10.200.3.2)
class IcmpTopology {
public:
    IcmpTopology()
    {
        static std::atomic<int> count{0};
        prefix_ = "qx" + std::to_string(getpid()) + char('a' + count++) + "-";
        up_ = Run("up");
    }
    ~IcmpTopology() { Run("down"); }
    IcmpTopology(const IcmpTopology&) = delete;
    IcmpTopology& operator=(const IcmpTopology&) = delete;

    bool Up() const { return up_; }
    std::string Namespace(const std::string& node) const { return prefix_ + node; }
    bool Run(const std::string& args) const
    {
        std::string command = std::string(QUORLIX_SOURCE_DIR) + "/scripts/netns-topology.sh " + prefix_ + " " + args;
        return std::system(command.c_str()) == 0;
    }

private:
    std::string prefix_;
    bool up_ = false;
};

// Moves the calling thread (and the threads it starts from now on) into a
// network namespace while the scope lives.
class NetnsScope {
public:
    explicit NetnsScope(const std::string& name)
    {
        own_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        entered_ = own_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
        if (target >= 0)
            close(target);
    }
    ~NetnsScope()
    {
        if (entered_)
            setns(own_, CLONE_NEWNET);
        if (own_ >= 0)
            close(own_);
    }
    NetnsScope(const NetnsScope&) = delete;
    NetnsScope& operator=(const NetnsScope&) = delete;
    bool Entered() const { return entered_; }

private:
    int own_ = -1;
    bool entered_ = false;
};
