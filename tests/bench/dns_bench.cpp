// One DNS exchange with a local server (QUORLIX_BENCH_DNS_SERVER, started by
// dns.sh), and the parse of a full 1000-byte reply.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../support/DnsReplyBuilder.h"
#include "dns/DnsMessage.h"

namespace {

void BM_ExchangeWithNsd(benchmark::State& state)
{
    const char* server = std::getenv("QUORLIX_BENCH_DNS_SERVER");
    if (!server) {
        state.SkipWithError("QUORLIX_BENCH_DNS_SERVER is not set (run tests/bench/dns.sh)");
        return;
    }
    std::vector<DnsRecord> records(50);
    for (auto _ : state) {
        DnsRequest request{IpAddress::V4(inet_addr(server)), 1234, kDnsTypeMX, "example.test", 1, 3000, 0, 50, records.data()};
        if (RunDnsQuery(&request) != DnsQueryResult::Answered || request.count != 8) {
            state.SkipWithError("the exchange failed");
            return;
        }
        benchmark::DoNotOptimize(records.data());
    }
}
BENCHMARK(BM_ExchangeWithNsd)->Unit(benchmark::kMicrosecond);

// A reply to "host1.example.test" of exactly 1000 bytes: 38 MX records whose
// exchanges are compressed against the question, then a TXT record as filler.
std::vector<std::uint8_t> FullReply()
{
    DnsReplyBuilder b;
    b.Header(1234, 0x8580, 1, 39, 0, 0).Question("host1.example.test", kDnsTypeMX);
    for (int i = 0; i < 38; ++i) {
        char label[8];
        std::snprintf(label, sizeof label, "mail%03d", i);
        b.Pointer(12).Fixed(kDnsTypeMX, 300, 2 + 8 + 2).U16(std::uint16_t(10 + i)).Labels(label).Pointer(18);
    }
    const std::size_t filler = 1000 - b.Size() - 12;
    b.Pointer(12).Fixed(16, 300, std::uint16_t(filler));
    b.bytes.resize(1000, 'x');
    return b.bytes;
}

void BM_ParseFullReply(benchmark::State& state)
{
    const std::vector<std::uint8_t> reply = FullReply();
    const std::size_t questionLength = BuildDnsQuery(1234, kDnsTypeMX, "host1.example.test", true).size() - 12;
    std::vector<DnsRecord> records(50);
    for (auto _ : state) {
        DnsRequest request{{}, 0, 0, nullptr, 0, 0, 0, 50, records.data()};
        ParseDnsReply(reply.data(), reply.size(), questionLength, request);
        benchmark::DoNotOptimize(records.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(reply.size()));
    state.counters["records"] = 39;
}
BENCHMARK(BM_ParseFullReply);

}  // namespace
