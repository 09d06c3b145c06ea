#pragma once

// A whois server for tests and benchmarks: reads one query line per
// connection, records it and answers as its handler says, one connection at
// a time. A handler's nullopt stalls: nothing is sent until the client closes.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class WhoisTestServer {
public:
    using Handler = std::function<std::optional<std::string>(const std::string& line)>;

    // Port 0 takes one the kernel picks; Port() stays 0 when nothing can listen.
    // With trickleMs, each reply goes out one byte every trickleMs milliseconds.
    WhoisTestServer(const char* address, int port, Handler handler, int trickleMs = 0)
        : handler_(std::move(handler)), trickleMs_(trickleMs)
    {
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{AF_INET, htons(std::uint16_t(port)), {}, {}};
        socklen_t length = sizeof at;
        if (inet_pton(AF_INET, address, &at.sin_addr) == 1 && bind(listener_, reinterpret_cast<sockaddr*>(&at), length) == 0 &&
            listen(listener_, 64) == 0 && getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) == 0) {
            port_ = ntohs(at.sin_port);
            thread_ = std::thread([this] { Serve(); });
        }
    }
    ~WhoisTestServer()
    {
        [[maybe_unused]] auto n = eventfd_write(stop_, 1);
        if (thread_.joinable())
            thread_.join();
        close(listener_);
        close(stop_);
    }

    int Port() const { return port_; }
    // The query lines received since the last call.
    std::vector<std::string> TakeReceived()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(received_, {});
    }
    // How many stalled connections the client has closed.
    int StallsEnded()
    {
        std::lock_guard lock(mutex_);
        return stallsEnded_;
    }

private:
    // Waits for fd to be readable; false on the stop signal or a time-out.
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
            const std::optional<std::string> reply = handler_(line);
            std::unique_lock lock(mutex_);
            received_.push_back(line);
            lock.unlock();
            for (std::size_t sent = 0; reply && sent < reply->size(); sent += std::size_t(n)) {
                const std::size_t chunk = trickleMs_ ? 1 : reply->size() - sent;
                if ((n = send(client, reply->data() + sent, chunk, MSG_NOSIGNAL)) <= 0)
                    break;
                if (trickleMs_ && (Wait(stop_, trickleMs_) || Wait(client, 0)))
                    break;  // stopping, or the client closed
            }
            while (!reply && Wait(client, -1) && recv(client, buffer, sizeof buffer, 0) > 0) {
            }
            lock.lock();
            stallsEnded_ += !reply;
            lock.unlock();
            close(client);
        }
    }

    Handler handler_;
    int trickleMs_ = 0;
    int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int stop_ = eventfd(0, EFD_CLOEXEC);
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> received_;
    int stallsEnded_ = 0;
};

// An answer of size bytes in lines of 80 columns.
inline std::string WhoisLines(std::size_t size)
{
    std::string answer(size, 'x');
    for (std::size_t i = 79; i < size; i += 80)
        answer[i] = '\n';
    return answer;
}
