#pragma once

// A test server's thread: calls serve each time fd turns readable, until Stop (or the destructor).
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <thread>

class ServeLoop {
public:
    ServeLoop() = default;
    ~ServeLoop() { Stop(), close(stop_); }
    ServeLoop(const ServeLoop&) = delete;
    ServeLoop& operator=(const ServeLoop&) = delete;

    void Start(int fd, std::function<void()> serve)
    {
        thread_ = std::thread([this, fd, serve = std::move(serve)] {
            for (;;) {
                pollfd fds[2] = {{fd, POLLIN, 0}, {stop_, POLLIN, 0}};
                if (poll(fds, 2, -1) > 0 && fds[1].revents)
                    return;
                if (fds[0].revents)
                    serve();
            }
        });
    }
    void Stop()
    {
        if (thread_.joinable())
            (void)!eventfd_write(stop_, 1), thread_.join();
    }

private:
    int stop_ = eventfd(0, EFD_CLOEXEC);
    std::thread thread_;
};
