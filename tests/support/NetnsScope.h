#pragma once

// A network namespace of a test's own ("qx<issue>-<pid>-<name>", loopback up),
// entered by the calling thread while the scope lives and removed with it.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class NetnsScope {
public:
    explicit NetnsScope(const std::string& name) : name_(name)
    {
        home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (std::system(("ip netns add " + name_ + " && ip -n " + name_ + " link set lo up").c_str()) != 0)
            return;
        const int ns = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        entered_ = ns >= 0 && setns(ns, CLONE_NEWNET) == 0;
        if (ns >= 0)
            close(ns);
    }
    ~NetnsScope()
    {
        if (home_ >= 0) {
            setns(home_, CLONE_NEWNET);
            close(home_);
        }
        std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
    }
    NetnsScope(const NetnsScope&) = delete;
    NetnsScope& operator=(const NetnsScope&) = delete;

    bool Entered() const { return entered_; }
    const std::string& Name() const { return name_; }

private:
    std::string name_;
    int home_ = -1;
    bool entered_ = false;
};
