#pragma once

// A scripted DNS server on loopback: each query gets the datagrams its script returns (no script:
// silence), those marked fromStranger from another port of the same address.
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ServeLoop.h"

class FakeDnsServer {
public:
    struct Datagram {
        std::vector<std::uint8_t> bytes;
        bool fromStranger = false;
    };
    using Script = std::function<std::vector<Datagram>(const std::vector<std::uint8_t>& query)>;

    FakeDnsServer(const std::string& address, std::uint16_t port, Script script)
        : script_(std::move(script)), fd_(Bind(address, port)), stranger_(Bind(address, 0))
    {
        loop_.Start(fd_, [this] { Answer(); });
    }
    ~FakeDnsServer() { loop_.Stop(), close(fd_), close(stranger_); }
    FakeDnsServer(const FakeDnsServer&) = delete;
    FakeDnsServer& operator=(const FakeDnsServer&) = delete;

    int Queries() const { return queries_; }

private:
    static int Bind(const std::string& address, std::uint16_t port)
    {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{AF_INET, htons(port), {}, {}};
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("FakeDnsServer: cannot bind " + address + ":" + std::to_string(port));
        return fd;
    }
    void Answer()
    {
        std::vector<std::uint8_t> query(65536);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd_, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        query.resize(size_t(n)), ++queries_;
        for (const Datagram& d : script_ ? script_(query) : std::vector<Datagram>{})
            sendto(d.fromStranger ? stranger_ : fd_, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }

    Script script_;
    int fd_, stranger_;
    std::atomic<int> queries_{0};
    ServeLoop loop_;
};
