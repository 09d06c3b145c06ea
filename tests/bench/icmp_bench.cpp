// One echo to the target and one whole three-hop trace through the routed
// test topology; icmp.sh builds the topology and runs this inside its host
// namespace, beside Debian's traceroute.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <string>

#include "icmp/EchoProbe.h"
#include "icmp/EchoReports.h"

namespace {

constexpr const char* kTarget = "10.200.3.2";

void BM_EchoToTarget(benchmark::State& state)
{
    EchoProbe probe;
    for (auto _ : state) {
        if (SendEcho(probe, IpAddress::V4(inet_addr(kTarget)), 64, 2000, nullptr).status != 0) {
            state.SkipWithError("no echo reply (run tests/bench/icmp.sh)");
            break;
        }
    }
}
BENCHMARK(BM_EchoToTarget)->Unit(benchmark::kMicrosecond);

void BM_TraceThreeHops(benchmark::State& state)
{
    EchoProbe probe;
    std::string out;
    for (auto _ : state) {
        out.clear();
        RunTrace(kTarget, [&](std::string_view s) { out += s; }, probe, nullptr);
        if (out.find("3    10.200.3.2") == std::string::npos) {
            state.SkipWithError("the trace did not reach the target (run tests/bench/icmp.sh)");
            break;
        }
    }
}
BENCHMARK(BM_TraceThreeHops)->Unit(benchmark::kMicrosecond);

}  // namespace
