#include "gui/display_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace kvr::gui {
namespace {

QScreen* screenWithGeometry(const QRect& rect) {
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->geometry() == rect) return screen;
    return nullptr;
}

} // namespace

QRect displayRect(int left, int top, int right, int bottom) {
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

bool isScreenGeometry(const QRect& rect) {
    return screenWithGeometry(rect) != nullptr;
}

void showOnDisplay(QWidget* window, const QRect& rect) {
    if (window == nullptr) return;
    QScreen* screen = screenWithGeometry(rect);
    if (screen != nullptr) {
        window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        window->setGeometry(rect);
        window->winId(); // the native window exists, so it can be put on the screen
        if (QWindow* handle = window->windowHandle()) handle->setScreen(screen);
        window->setGeometry(rect);
        window->showFullScreen();
    } else {
        // A part of a screen: a plain frameless window on top, exactly there. The bypass hint
        // keeps a window manager from moving it or giving it a frame.
        window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::X11BypassWindowManagerHint);
        window->setGeometry(rect);
        window->show();
    }
    window->raise();
    window->activateWindow();
}

void showOnDisplayNotOnTop(QWidget* window, const QRect& rect) {
    if (window == nullptr) return;
    QScreen* screen = screenWithGeometry(rect);
    // Leaving full-screen first lets the window change screens: a window manager keeps a
    // full-screen window on the screen it was made full-screen on.
    if (window->isFullScreen()) window->showNormal();
    window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window->setGeometry(rect);
    window->winId();
    if (screen != nullptr) {
        if (QWindow* handle = window->windowHandle()) handle->setScreen(screen);
        window->setGeometry(rect);
        window->showFullScreen();
    } else {
        window->show();
    }
    window->raise();
    window->activateWindow();
}

} // namespace kvr::gui
