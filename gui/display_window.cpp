#include "gui/display_window.h"

#include <QEvent>
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

bool nativeWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// Makes a widget full-screen once its window has been activated, then goes.
class FullScreenWhenActive final : public QObject {
public:
    explicit FullScreenWhenActive(QWidget* widget) : QObject(widget), widget_(widget) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget_ && event->type() == QEvent::WindowActivate) {
            widget_->removeEventFilter(this);
            widget_->showFullScreen();
            deleteLater();
        }
        return false;
    }

private:
    QWidget* widget_;
};

// Full-screen on `screen`, whose geometry `rect` is. Under Wayland a client cannot place
// itself: the screen chosen before the window is shown is the output the compositor makes it
// full-screen on. Under X a window asking for full-screen from the start may be left at the
// root origin wherever it is shown (weston's window manager, for XWayland, does so), while
// its X position is where pointer input in desktop coordinates (XTest) arrives. So a window
// for a screen away from the origin is mapped at its rectangle first and made full-screen once
// active: the window manager has placed it by then, and keeps it there. (At the origin the
// position is right either way, and a window mapped there may be placed elsewhere as one that
// asked for no position.) Without a window manager, as under a bare X server, the geometry
// alone makes it cover the screen.
void showFullScreenOn(QWidget* window, QScreen* screen, const QRect& rect) {
    window->setGeometry(rect);
    window->winId(); // the native window exists, so it can be put on the screen
    QWindow* handle = window->windowHandle();
    if (handle != nullptr) handle->setScreen(screen);
    window->setGeometry(rect);
    if (nativeWayland() || handle == nullptr || rect.topLeft() == QPoint(0, 0)) {
        window->showFullScreen();
        return;
    }
    new FullScreenWhenActive(window);
    window->show();
}

} // namespace

QRect displayRect(int left, int top, int right, int bottom) {
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

bool isScreenGeometry(const QRect& rect) {
    return screenWithGeometry(rect) != nullptr;
}

bool canBringItselfToFront() {
    return !nativeWayland();
}

void showOnDisplay(QWidget* window, const QRect& rect) {
    if (window == nullptr) return;
    QScreen* screen = screenWithGeometry(rect);
    if (screen != nullptr) {
        window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        showFullScreenOn(window, screen, rect);
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
    // A shown window leaves its screen first, out of full-screen: a window manager keeps a
    // full-screen window on the screen it was made full-screen on, and a Wayland compositor
    // keeps a window on its output; shown again it goes where it is put.
    if (window->isVisible()) {
        window->setWindowState(window->windowState() & ~Qt::WindowFullScreen);
        window->hide();
    }
    window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    if (screen != nullptr) {
        showFullScreenOn(window, screen, rect);
    } else {
        window->setGeometry(rect);
        window->show();
    }
    window->raise();
    window->activateWindow();
}

} // namespace kvr::gui
