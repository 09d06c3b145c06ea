// Receiving a 9,999-byte whois answer from a loopback server: the engine's
// large reads against one byte per receive call, the way the original design
// reads. Each iteration is a whole exchange: connect, send the query line,
// read until the server closes.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "whois/WhoisQuery.h"

namespace {

constexpr std::size_t kAnswerBytes = 9999;

// Answers every connection with the same 9,999 bytes of 80-column lines.
class AnswerServer {
public:
    AnswerServer() : answer_(kAnswerBytes, 'w')
    {
        for (std::size_t i = 79; i < answer_.size(); i += 80)
            answer_[i] = '\n';
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        listen(listener_, 64);
        socklen_t length = sizeof at;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~AnswerServer()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = write(stop_, &one, sizeof one);
        thread_.join();
        close(listener_);
        close(stop_);
    }
    int Port() const { return port_; }

private:
    void Serve()
    {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_, POLLIN, 0}};
        while (poll(fds, 2, -1) > 0 && !fds[1].revents) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            char line[512];
            [[maybe_unused]] auto got = recv(client, line, sizeof line, 0);
            for (std::size_t sent = 0; sent < answer_.size();) {
                const ssize_t n = send(client, answer_.data() + sent, answer_.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += std::size_t(n);
            }
            close(client);
        }
    }

    std::string answer_;
    int listener_ = -1;
    int stop_ = eventfd(0, EFD_CLOEXEC);
    int port_ = 0;
    std::thread thread_;
};

AnswerServer& Server()
{
    static AnswerServer server;
    return server;
}

void BM_EngineReceive(benchmark::State& state)
{
    const WhoisServer server{"127.0.0.1", Server().Port()};
    const WhoisWaits waits;
    std::string answer;
    for (auto _ : state) {
        WhoisConnection connection(waits);
        if (connection.Connect(server) != WhoisStatus::Ok || connection.Send("example.test\r\n") != WhoisStatus::Ok ||
            connection.Receive(answer) != WhoisStatus::Ok || answer.size() != kAnswerBytes) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(answer.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kAnswerBytes));
}
BENCHMARK(BM_EngineReceive)->UseRealTime();

// The design as written: a blocking socket, one byte per receive call into a
// fixed area until the server closes or the area is full.
void BM_OneBytePerCall(benchmark::State& state)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(Server().Port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    static char area[10000];
    for (auto _ : state) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const std::string_view line = "example.test\r\n";
        if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
            send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) {
            close(fd);
            state.SkipWithError("exchange failed");
            break;
        }
        std::size_t received = 0;
        while (received < sizeof area && recv(fd, area + received, 1, 0) == 1)
            ++received;
        shutdown(fd, SHUT_WR);
        close(fd);
        if (received != kAnswerBytes) {
            state.SkipWithError("short answer");
            break;
        }
        benchmark::DoNotOptimize(area);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kAnswerBytes));
}
BENCHMARK(BM_OneBytePerCall)->UseRealTime();

}  // namespace
