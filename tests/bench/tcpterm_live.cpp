// The live half of tcpterm.sh: the TCP Socket page (offscreen) connects to
// 127.0.0.1:PORT, where the script's peer sends its flood and closes, and
// takes everything until the page says "Closed".
//   tcpterm_live PORT
// Prints "seconds S stall_ms W pane_max P": the time from Connect to Closed,
// the longest wait of an event posted to the window's thread meanwhile (as
// keys and clicks reach it), and the largest the pane grew.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "WindowWait.h"
#include "tcpterm/TcpSocketPage.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"

using namespace TcpSocketControls;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tcpterm_live PORT\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TcpSocketPage page(nullptr);
    page.show();
    page.Item<QLineEdit>(kHostBox)->setText(QStringLiteral("127.0.0.1"));
    page.Item<QLineEdit>(kPortBox)->setText(QString::fromLatin1(argv[1]));

    QElapsedTimer since;
    since.start();
    WindowWaitProbe waits(&app);
    std::size_t largest = 0;
    qint64 took = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        largest = std::max(largest, page.Pane()->RawText().size());
        if (page.Item<QLabel>(kStatusLine)->text() == QLatin1String("Closed")) {
            took = since.elapsed();
            app.quit();
        }
    });
    watch.start(1);
    QTimer::singleShot(120000, &app, &QApplication::quit);
    page.Item<QPushButton>(kConnectButton)->click();
    app.exec();
    std::printf("seconds %.2f stall_ms %lld pane_max %zu%s\n", double(took) / 1000.0,
                static_cast<long long>(waits.LongestMs()), largest, took < 0 ? " (never closed)" : "");
    return took < 0;
}
