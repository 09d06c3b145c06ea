#include "shell/ToolApp.h"

#include <sys/socket.h>
#include <netinet/in.h>

#include <QApplication>
#include <memory>

#include "os/SocketIo.h"
#include "shell/MainWindow.h"
#include "ui/MessageBox.h"

bool SocketsAvailable()
{
    return OpenSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP).Valid();
}

int ToolApp::Run(int& argc, char** argv)
{
    QApplication app(argc, argv);
    // Ties the window to the installed desktop entry (its name and icon).
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORLIX_APP_ID));
    if (!SocketsAvailable()) {
        ShowMessage(nullptr, QStringLiteral("Windows sockets initialization failed."), MessageKind::Warning);
        return 1;
    }

    auto window = std::make_unique<MainWindow>();
    window->show();
    app.exec();  // returns once the window has closed and its tasks have ended

    // Nothing to release for the sockets layer or the echo probes (each task
    // owns its own); then the pages.
    window.reset();
    return 0;
}
