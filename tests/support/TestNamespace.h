#pragma once

// A network namespace of the test's own, with its own /etc/netns/NAME files (resolv.conf, services, hosts), which
// `ip netns exec` mounts over the host's with the namespace's own /sys. Removed with its files. Needs root.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/ScriptedPeer.h"


class TestNamespace {
public:
    // The process id is appended, so that runs side by side never meet.
    explicit TestNamespace(const std::string& name) : name_(name + "-" + std::to_string(getpid())), etc_("/etc/netns/" + name_)
    {
        std::filesystem::create_directories(etc_);
        ok_ = Run("ip netns add " + name_) && Ip("link set lo up");
    }
    ~TestNamespace() { Run("ip netns del " + name_ + " 2>/dev/null"), std::filesystem::remove_all(etc_, ec_); }
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    const std::string& Name() const { return name_; }
    bool Ok() const { return ok_; }
    void WriteEtc(const std::string& file, const std::string& text) const { std::ofstream(etc_ / file) << text; }
    bool Ip(const std::string& args) const { return Run("ip -n " + name_ + " " + args); }
    bool Exec(const std::string& command) const { return Run("ip netns exec " + name_ + " " + command); }
    // A veth pair to other, IPv6 only: this end v6a with address mine, other's v6b with theirs (both /64, no DAD).
    bool LinkV6(const TestNamespace& other, const std::string& mine, const std::string& theirs) const
    {
        return Ip("link add v6a type veth peer name v6b netns " + other.Name()) && Ip("addr add " + mine + "/64 dev v6a nodad") &&
               other.Ip("addr add " + theirs + "/64 dev v6b nodad") && Ip("link set v6a up") && other.Ip("link set v6b up");
    }
    // This test program again inside the namespace, with variable=1 and only the tests filter names.
    bool ExecSelf(const char* variable, const std::string& filter) const
    {
        return Run(std::string(variable) + "=1 ip netns exec " + name_ + " " +
                   std::filesystem::read_symlink("/proc/self/exe").string() + " --gtest_filter='" + filter + "'");
    }

private:
    static bool Run(const std::string& command)
    {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string name_;
    std::filesystem::path etc_;
    bool ok_ = false;
    std::error_code ec_;
};
