#pragma once

// A network of the test's own: the whole process moves into a new network namespace (loopback
// only), where a FakeDnsServer answers at the name server of /etc/resolv.conf.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "support/FakeDnsServer.h"

// The name server of /etc/resolv.conf, where the resolver will ask.
inline std::string ResolverAddress()
{
    std::ifstream conf("/etc/resolv.conf");
    in_addr a{};
    for (std::string word, address; conf >> word;)
        if (word == "nameserver" && conf >> address && inet_pton(AF_INET, address.c_str(), &a) == 1)
            return address;
    return "127.0.0.53";
}

// Registered once per test program; Server() stays null without root.
class PrivateNameServer : public testing::Environment {
public:
    explicit PrivateNameServer(FakeDnsServer::Script script) : script_(std::move(script)) {}
    void SetUp() override
    {
        if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
            return;
        const std::string server = ResolverAddress();
        if (std::system(("ip link set lo up" + (server.starts_with("127.") ? "" : " && ip addr add " + server + "/32 dev lo")).c_str()) == 0)
            server_ = std::make_unique<FakeDnsServer>(server, 53, script_);
    }
    void TearDown() override { server_.reset(); }
    FakeDnsServer* Server() const { return server_.get(); }

private:
    FakeDnsServer::Script script_;
    std::unique_ptr<FakeDnsServer> server_;
};
