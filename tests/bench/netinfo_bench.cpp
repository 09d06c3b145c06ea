// The port services report over /etc/services: ours, which reads the file once,
// against a getservbyport loop over the same ports, which rereads it each time.
#include <benchmark/benchmark.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstdio>
#include <string>

#include "hostinfo/NetInfoReports.h"

namespace {

std::string GetservbyportReport()
{
    std::string text = "[PORT SERVICES]\r\n\r\nPort\tService\t\tProtocol\r\n";
    for (int port = 0; port < 10000; ++port) {
        if (const servent* s = getservbyport(htons(std::uint16_t(port)), nullptr)) {
            char line[256];
            std::snprintf(line, sizeof line, "%d\t%-20s%s\r\n", port, s->s_name, s->s_proto);
            text += line;
        }
    }
    return text;
}

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
