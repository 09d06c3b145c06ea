// Receiving a 9,999-byte whois answer from a loopback server: the engine's
// large reads against one byte per receive call, the slowest way a client
// can read. Each iteration is a whole exchange: connect, send the query line,
// read until the server closes.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "WhoisTestServer.h"
#include "whois/WhoisQuery.h"

namespace {

constexpr std::size_t kAnswerBytes = 9999;

WhoisTestServer& Server()
{
    static WhoisTestServer server("127.0.0.1", 0, [answer = WhoisLines(kAnswerBytes)](const std::string&) { return answer; });
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
    const sockaddr_in to{AF_INET, htons(std::uint16_t(Server().Port())), {htonl(INADDR_LOOPBACK)}, {}};
    const std::string_view line = "example.test\r\n";
    static char area[10000];
    for (auto _ : state) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        std::size_t received = 0;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
            send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size()))
            while (received < sizeof area && recv(fd, area + received, 1, 0) == 1)
                ++received;
        shutdown(fd, SHUT_WR);
        close(fd);
        if (received != kAnswerBytes) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(area);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kAnswerBytes));
}
BENCHMARK(BM_OneBytePerCall)->UseRealTime();

}  // namespace
