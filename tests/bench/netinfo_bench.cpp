// The port services report over /etc/services: ours, which reads the file once,
// against a getservbyport loop over the same ports, which rereads it each time.
#include <benchmark/benchmark.h>

#include "ServicesReference.h"
#include "hostinfo/NetInfoReports.h"

namespace {

void BM_PortServicesReport(benchmark::State& state)
{
    if (PortServicesReport().text != GetservbyportReport()) {
        state.SkipWithError("the two reports differ");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(PortServicesReport());
}
BENCHMARK(BM_PortServicesReport)->Unit(benchmark::kMillisecond);

void BM_GetservbyportLoop(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(GetservbyportReport());
}
BENCHMARK(BM_GetservbyportLoop)->Unit(benchmark::kMillisecond);

}  // namespace
