#include "tests/support/qt_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <QWidget>

namespace kvr::test {

bool waitForGui(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return condition();
        QThread::msleep(2);
    }
}

void pumpGui(std::chrono::milliseconds duration) {
    waitForGui([] { return false; }, duration);
}

QImage grabImage(QWidget* widget) {
    return widget->grab().toImage();
}

QStringList tabChain(QWidget* window, QWidget* first, int steps) {
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    first->setFocus(Qt::TabFocusReason);
    QStringList visited;
    for (int i = 0; i < steps; ++i) {
        QWidget* focus = QApplication::focusWidget();
        visited << (focus ? focus->objectName() : QString());
        QTest::keyClick(focus ? focus : window, Qt::Key_Tab);
    }
    return visited;
}

} // namespace kvr::test
