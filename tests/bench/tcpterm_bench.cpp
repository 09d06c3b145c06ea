// The TCP terminal's work per received byte: masking what is not printable,
// and deciding how much of the pane stays.
#include <benchmark/benchmark.h>

#include <string>

#include "tcpterm/TerminalText.h"

namespace {

std::string Received(std::size_t size)
{
    std::string text;
    const std::string line = "The TCP Socket page shows what the peer sends, 0123456789.\r\n";
    while (text.size() < size) {
        text += line;
        for (int b = 0; b < 256; ++b)
            text += char(b);
    }
    text.resize(size);
    return text;
}

void BM_MaskUnprintable(benchmark::State& state)
{
    const std::string source = Received(std::size_t(state.range(0)));
    std::string work = source;
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
    const std::string shown = Received(900 << 10);
    const std::string incoming = Received(std::size_t(state.range(0)));
    const PaneBound bound{512 << 10, 1 << 20, 32 << 10, 64 << 10};
    for (auto _ : state)
        benchmark::DoNotOptimize(PaneRestartOffset(shown, incoming, bound));
}
BENCHMARK(BM_PaneRestartOffset)->Arg(64 << 10)->Arg(512 << 10);

}  // namespace
