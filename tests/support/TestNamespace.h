#pragma once

// A network namespace of the test's own, with its own files under
// /etc/netns/NAME (resolv.conf, services, hosts), which `ip netns exec`
// mounts over the host's together with the namespace's own /sys. Removed,
// files and all, when the object goes. Needs root.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TestNamespace {
public:
    // name gets the process id appended, so that runs side by side never meet.
    explicit TestNamespace(const std::string& name)
        : name_(name + "-" + std::to_string(getpid())), etc_("/etc/netns/" + name_)
    {
        std::filesystem::create_directories(etc_);
        ok_ = Run("ip netns add " + name_) && Ip("link set lo up");
    }
    ~TestNamespace()
    {
        [[maybe_unused]] const int removed = std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
        std::error_code ec;
        std::filesystem::remove_all(etc_, ec);
    }
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    const std::string& Name() const { return name_; }
    bool Ok() const { return ok_; }

    // The namespace's own copy of /etc/<file>.
    void WriteEtc(const std::string& file, const std::string& text) const
    {
        std::ofstream(etc_ / file, std::ios::binary) << text;
    }
    // `ip ARGS` inside the namespace.
    bool Ip(const std::string& args) const { return Run("ip -n " + name_ + " " + args); }
    // A command run inside the namespace.
    bool Exec(const std::string& command) const { return Run("ip netns exec " + name_ + " " + command); }
    // This test program again inside the namespace, with variable=1 set and
    // only the tests filter names.
    bool ExecSelf(const char* variable, const std::string& filter) const
    {
        const std::string self = std::filesystem::read_symlink("/proc/self/exe");
        return Run(std::string(variable) + "=1 ip netns exec " + name_ + " " + self + " --gtest_filter='" + filter + "'");
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
};
