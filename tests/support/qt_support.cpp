#include "tests/support/qt_support.h"

#include <QCoreApplication>
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

} // namespace kvr::test
