// The capture's work per packet, as a burst reaches it: decode, filter, and
// print with the packet lines and the hex dump into a memory sink, over every
// packet of the pcap file QUORLIX_BENCH_PCAP (link type raw IP, as capture.sh
// writes it). Rates count the file's packets, printed or not.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "capture/CapturePrinter.h"
#include "capture/CapturedPacket.h"

namespace {

struct Frame {
    const std::uint8_t* data;
    std::size_t size;
};

const std::vector<Frame>& Frames()
{
    static const std::string file = [] {
        const char* path = std::getenv("QUORLIX_BENCH_PCAP");
        std::ifstream in(path ? path : "", std::ios::binary);
        if (!in)
            throw std::runtime_error("QUORLIX_BENCH_PCAP must name a readable pcap file");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    static const std::vector<Frame> frames = [] {
        // Native byte order pcap: 24-byte file header, then per record 16 bytes
        // (seconds, microseconds, captured length, original length) and the data.
        std::vector<Frame> out;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
        for (std::size_t at = 24; at + 16 <= file.size();) {
            std::uint32_t captured;
            std::memcpy(&captured, bytes + at + 8, 4);
            at += 16;
            if (captured > file.size() - at)
                break;
            out.push_back({bytes + at, captured});
            at += captured;
        }
        return out;
    }();
    return frames;
}

void BM_DecodeFilterDump(benchmark::State& state)
{
    const auto& frames = Frames();
    CaptureSettings settings;  // TCP and UDP, packet lines, hex dump
    settings.portFilter = 80;
    CapturedPacket packet;
    std::string sink;
    sink.reserve(1 << 20);
    std::int64_t printed = 0;
    for (auto _ : state) {
        int counter = 0;
        for (const Frame& f : frames) {
            if (DecodeCapturedPacket(f.data, f.size, packet) == 0 || !PassesCaptureFilter(packet, settings))
                continue;
            PrintCapturedPacket(packet, ++counter, settings, sink);
            // A pane's worth of batches: hand over and start again.
            if (sink.size() > (1 << 19))
                sink.clear();
        }
        printed += counter;
        benchmark::DoNotOptimize(sink.data());
    }
    state.SetItemsProcessed(std::int64_t(frames.size()) * state.iterations());
    state.counters["printed"] = double(printed) / double(state.iterations());
}

BENCHMARK(BM_DecodeFilterDump)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace
