// Pings the host named on the command line once through the Ping page,
// offscreen, as the program would, and prints the page's text and then every
// message it showed, each on a line starting "Message: ". The package test runs
// it as users in and outside the group quorlix.
#include <QApplication>
#include <QTest>
#include <cstdio>

#include "support/EchoPageTest.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HOST\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    int status = 0;
    {
        MessageRecorder messages;
        PingPage page;
        const std::string pane = Query(&page, QString::fromLocal8Bit(argv[1]));
        QTest::qWait(200);  // the privilege hint is posted to the page
        std::printf("%s\n", pane.c_str());
        for (const QString& text : messages.Texts())
            std::printf("Message: %s\n", qPrintable(text));
        status = pane.ends_with("[still running]") ? 1 : 0;
    }
    return status;
}
