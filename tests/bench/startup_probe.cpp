// One start of the window, for tests/bench/startup.sh. The first argument is
// the caller's clock reading just before it started this process (seconds
// since the epoch, as bash's EPOCHREALTIME gives it); the second, what to start:
//   quorlix   as the program does: sockets check, the main
//             window with its splash up for one second after the pages
//   nosplash  the same without the splash
//   bare      an empty Qt window: the floor any Qt Widgets program pays
// Prints three times in milliseconds: from the process's start until the window
// is built (every page created, the splash's second over) and until it is
// shown on the screen, and the processor time the process had used when it
// was built (the fairer figure on a busy machine).
#include <sys/resource.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "shell/MainWindow.h"
#include "shell/ToolApp.h"

namespace {

double MillisecondsSince(double startSeconds)
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(now).count() - startSeconds * 1000.0;
}

double ProcessorMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s START-SECONDS quorlix|nosplash|bare\n", argv[0]);
        return 2;
    }
    const double start = std::strtod(argv[1], nullptr);
    const std::string mode = argv[2];
    QApplication app(argc, argv);

    std::unique_ptr<QWidget> window;
    if (mode == "bare") {
        window = std::make_unique<QWidget>();
    } else {
        if (!SocketsAvailable())
            return 1;
        window = std::make_unique<MainWindow>(mode == "quorlix");
    }
    const double built = MillisecondsSince(start);
    const double processor = ProcessorMilliseconds();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return 1;
    const double shown = MillisecondsSince(start);
    std::printf("%.1f %.1f %.1f\n", built, shown, processor);

    window.reset();
    return 0;
}
