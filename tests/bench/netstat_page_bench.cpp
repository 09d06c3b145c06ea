// The NetStat table of the namespace the program runs in (netstat.sh fills one
// with 50,000 loopback connections): the engine's dump and format of both
// tables, and the page's whole refresh, pane included, on the user-interface
// thread. Peak memory is the process's resident high-water mark.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <string>

#include "hostinfo/ConnectionTable.h"
#include "hostinfo/NetStatPage.h"

namespace {

double PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

size_t Lines(const std::string& text)
{
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

void DumpAndFormat(benchmark::State& state)
{
    size_t lines = 0;
    for (auto _ : state) {
        std::string text = ConnectionTableText();
        lines = Lines(text);
        benchmark::DoNotOptimize(text);
    }
    state.counters["lines"] = double(lines);
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(DumpAndFormat)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The dump alone, both families, without the text.
void Dump(benchmark::State& state)
{
    std::vector<TcpRow> rows;
    for (auto _ : state)
        GetTcpTable(&rows);
    state.counters["rows"] = double(rows.size());
}
BENCHMARK(Dump)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void PageRefresh(benchmark::State& state)
{
    NetStatPage page(nullptr);
    page.show();
    QApplication::processEvents();
    for (auto _ : state) {
        page.RefreshConnections();
        QApplication::processEvents();  // the repaint the refresh causes
    }
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(PageRefresh)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
