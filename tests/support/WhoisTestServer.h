#pragma once

// A whois server for tests and benchmarks: reads one query line per
// connection, records it and answers as its handler says, one connection at
// a time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WhoisTestServer {
public:
    enum class Mode {
        Answer,  // send the bytes, then close
        Stall,   // send nothing; wait until the client closes
        Reset,   // close at once with a reset
    };
    struct Reply {
        std::string bytes;
        Mode mode = Mode::Answer;
    };
    using Handler = std::function<Reply(const std::string& line)>;

    // Port 0 takes one the kernel picks; Port() stays 0 when nothing can listen.
    WhoisTestServer(const char* address, int port, Handler handler) : handler_(std::move(handler))
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<std::uint16_t>(port));
        socklen_t length = sizeof at;
        if (inet_pton(AF_INET, address, &at.sin_addr) != 1 || bind(listener_, reinterpret_cast<sockaddr*>(&at), length) != 0 ||
            listen(listener_, 64) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
            return;
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }

    ~WhoisTestServer()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = write(stop_, &one, sizeof one);
        if (thread_.joinable())
            thread_.join();
        close(listener_);
        close(stop_);
    }

    int Port() const { return port_; }

    std::vector<std::string> Received() const
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void ClearReceived()
    {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    // How many stalled connections the client has closed.
    int StallsEnded() const
    {
        std::lock_guard lock(mutex_);
        return stallsEnded_;
    }

private:
    // Waits for fd or the stop signal; false on stop or time-out.
    bool Wait(int fd, int timeoutMs)
    {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_, POLLIN, 0}};
        return poll(fds, 2, timeoutMs) > 0 && !fds[1].revents && fds[0].revents;
    }

    void Serve()
    {
        while (Wait(listener_, -1)) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::string line;
            char buffer[512];
            ssize_t n = 0;
            while (line.find('\n') == std::string::npos && Wait(client, 5000) &&
                   (n = recv(client, buffer, sizeof buffer, 0)) > 0)
                line.append(buffer, std::size_t(n));
            const Reply reply = handler_(line);
            {
                std::lock_guard lock(mutex_);
                received_.push_back(line);
            }
            if (reply.mode == Mode::Answer) {
                for (std::size_t sent = 0; sent < reply.bytes.size(); sent += std::size_t(n))
                    if ((n = send(client, reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL)) <= 0)
                        break;
            } else if (reply.mode == Mode::Stall) {
                while (Wait(client, -1) && recv(client, buffer, sizeof buffer, 0) > 0) {
                }
                std::lock_guard lock(mutex_);
                ++stallsEnded_;
            } else {
                const linger abort{1, 0};
                setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            close(client);
        }
    }

    Handler handler_;
    int listener_ = -1;
    int stop_ = eventfd(0, EFD_CLOEXEC);
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    int stallsEnded_ = 0;
};
