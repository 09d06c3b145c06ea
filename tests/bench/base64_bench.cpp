// Throughput of the codec as the mail attachment and the Base64 page use it:
// size, then encode or decode into one buffer. base64.sh gives the input:
// QUORLIX_BENCH_INPUT names the raw bytes, QUORLIX_BENCH_TEXT their text from
// coreutils' base64 -w 76 (LF lines). Rates count raw bytes.
#include "base64/Base64.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

std::string ReadFile(const char* variable)
{
    const char* path = std::getenv(variable);
    std::ifstream in(path ? path : "", std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string(variable) + " must name a readable file");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string& Input()
{
    static const std::string input = ReadFile("QUORLIX_BENCH_INPUT");
    return input;
}

void BM_Encode(benchmark::State& state)
{
    const std::string& data = Input();
    std::vector<char> out(std::size_t(Base64EncodedSize(data.size())));
    for (auto _ : state) {
        const std::int64_t size = Base64EncodedSize(data.size());
        benchmark::DoNotOptimize(Base64Encode(data.data(), std::int64_t(data.size()), out.data(), size));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(data.size()) * state.iterations());
}

void BM_Decode(benchmark::State& state)
{
    static const std::string text = ReadFile("QUORLIX_BENCH_TEXT");
    std::vector<unsigned char> out(Input().size() + 1);
    for (auto _ : state) {
        const std::int64_t size = Base64DecodedSize(text.c_str());
        if (Base64Decode(text.c_str(), out.data(), size) != std::int64_t(Input().size()))
            state.SkipWithError("decoded size differs from the input");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(Input().size()) * state.iterations());
}

BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace
