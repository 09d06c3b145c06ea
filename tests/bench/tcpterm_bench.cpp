// The TCP terminal's work per received byte: masking what is not printable,
// and deciding how much of the pane stays.
#include <benchmark/benchmark.h>

#include "FloodText.h"
#include "net/ByteText.h"
#include "tcpterm/TerminalText.h"

namespace {

void BM_MaskUnprintable(benchmark::State& state)
{
    const std::string source = FloodText(std::size_t(state.range(0)));
    std::string work;
    for (auto _ : state) {
        work = source;
        MaskUnprintable(work.data(), work.size());
        benchmark::DoNotOptimize(work.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_MaskUnprintable)->Arg(64 << 10)->Arg(1 << 20);

void BM_PaneRestartOffset(benchmark::State& state)
{
    const std::string shown = FloodText(900 << 10), incoming = FloodText(std::size_t(state.range(0)));
    const PaneBound bound{512 << 10, 1 << 20, 32 << 10, 64 << 10};
    for (auto _ : state)
        benchmark::DoNotOptimize(PaneRestartOffset(shown, incoming, bound));
}
BENCHMARK(BM_PaneRestartOffset)->Arg(64 << 10)->Arg(512 << 10);

}  // namespace
