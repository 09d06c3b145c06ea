#include "shell/Splash.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>

namespace {

QPointer<QLabel> g_splash;

}  // namespace

QWidget* ShowSplash(int bitmapId, bool visible)
{
    if (g_splash)
        return g_splash;
    QPixmap picture(QStringLiteral(":/images/bitmap-%1.png").arg(bitmapId));
    if (picture.isNull())
        return nullptr;
    auto* splash = new QLabel(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    splash->setPixmap(picture);
    splash->setAccessibleName(QStringLiteral("Splash"));
    splash->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // Centred on the point halfway to the desktop's right and bottom edges:
        // the middle of a screen that starts at the origin.
        const QRect desktop = screen->geometry();
        const int right = desktop.x() + desktop.width(), bottom = desktop.y() + desktop.height();
        splash->move(right / 2 - splash->width() / 2, bottom / 2 - splash->height() / 2);
    }
    g_splash = splash;
    SetSplashVisible(visible);
    return splash;
}

void SetSplashVisible(bool visible)
{
    if (!g_splash)
        return;
    if (visible) {
        g_splash->show();
        g_splash->raise();
        g_splash->repaint();
    } else {
        g_splash->hide();
    }
}

void CloseSplash()
{
    delete g_splash.data();
}
