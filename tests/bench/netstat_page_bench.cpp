// The NetStat table of the namespace the program runs in (netstat.sh fills one
// with 50,000 loopback connections): the engine's dump and format of both
// tables, and the page's whole refresh, pane included, on the user-interface
// thread. Peak memory is the process's resident high-water mark.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
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
        std::string text = ConnectionTableText(KernelSockDiag(), state.range(0) != 0);
        lines = Lines(text);
        benchmark::DoNotOptimize(text);
    }
    state.counters["lines"] = double(lines);
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(DumpAndFormat)->ArgName("programs")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The dump alone, both families, without the text.
void Dump(benchmark::State& state)
{
    std::vector<TcpRow> rows;
    for (auto _ : state)
        ReadTcpSockets(&rows);
    state.counters["rows"] = double(rows.size());
}
BENCHMARK(Dump)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The whole refresh until the table is printed, and the longest time the
// user-interface thread was kept from its events meanwhile (a 1 ms timer's
// largest gap between two ticks): the stall the user sees. Refreshed over the
// table it shows (kept: 1), or into an empty pane, as the first table is (0).
void PageRefresh(benchmark::State& state)
{
    NetStatPage page(nullptr);
    page.show();
    while (page.Refreshing())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    ticker.start(1);
    for (auto _ : state) {
        clock.start();
        last = 0;
        if (!state.range(0))
            page.ClearOutput();
        page.RefreshConnections();
        while (page.Refreshing())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QApplication::processEvents();  // the repaint
        longest = std::max(longest, clock.elapsed() - last);
    }
    state.counters["ui_stall_ms"] = double(longest);
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(PageRefresh)->ArgName("kept")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

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
