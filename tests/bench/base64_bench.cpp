// Throughput of the codec on one large input, as the mail attachment and the
// Base64 page use it: size, then encode or decode into one exact buffer.
//
// QUORLIX_BENCH_INPUT names the raw input file and QUORLIX_BENCH_TEXT its
// base64 text with LF line ends (from coreutils' base64 -w 76), so that the
// figures compare with the reference tool on the same bytes; without them a
// fixed pseudo-random 256 MiB input is used. Rates count raw (decoded) bytes.
#include "base64/Base64.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

std::string ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string("cannot read ") + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string& Input()
{
    static const std::string input = [] {
        if (const char* path = std::getenv("QUORLIX_BENCH_INPUT"))
            return ReadFile(path);
        std::string data(256u << 20, '\0');
        std::mt19937_64 rng(1);
        for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
            const std::uint64_t r = rng();
            data.replace(i, 8, reinterpret_cast<const char*>(&r), 8);
        }
        return data;
    }();
    return input;
}

std::string EncodeInput()
{
    const std::string& data = Input();
    std::string out(std::size_t(Base64EncodedSize(data.size())), '\0');
    Base64Encode(data.data(), std::int64_t(data.size()), out.data(), std::int64_t(out.size()));
    out.resize(out.find('\0') == std::string::npos ? out.size() : out.find('\0'));
    return out;
}

// The text with the encoder's CR LF lines.
const std::string& CrLfText()
{
    static const std::string text = EncodeInput();
    return text;
}

// The same text with LF lines, as coreutils writes it.
const std::string& LfText()
{
    static const std::string text = [] {
        if (const char* path = std::getenv("QUORLIX_BENCH_TEXT"))
            return ReadFile(path);
        std::string lf;
        for (char c : CrLfText())
            if (c != '\r')
                lf += c;
        return lf + '\n';
    }();
    return text;
}

void SetRate(benchmark::State& state)
{
    const double bytes = double(Input().size()) * double(state.iterations());
    state.SetBytesProcessed(std::int64_t(bytes));
    state.counters["GB/s"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
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
    SetRate(state);
}

void Decode(benchmark::State& state, const std::string& text)
{
    std::vector<unsigned char> out(Input().size() + 1);
    for (auto _ : state) {
        const std::int64_t size = Base64DecodedSize(text.c_str());
        const std::int64_t n = Base64Decode(text.c_str(), out.data(), size + 1);
        if (n != std::int64_t(Input().size()))
            state.SkipWithError("decoded size differs from the input");
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

void BM_DecodeLfText(benchmark::State& state)
{
    Decode(state, LfText());
}

void BM_DecodeCrLfText(benchmark::State& state)
{
    Decode(state, CrLfText());
}

BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_DecodeLfText)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_DecodeCrLfText)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace
