#pragma once
// Test support for windowed programs: waits that keep the Qt event loop running (timers,
// socket notifiers, repaints), and reading pixels of a widget.

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>

namespace kvr::test {

// Runs Qt events until `condition` holds or `deadline` passes; true when it held.
bool waitForGui(const std::function<bool()>& condition,
                std::chrono::milliseconds deadline = std::chrono::seconds(20));

// Runs Qt events for a while (for "nothing happens" checks; never for waiting on a result).
void pumpGui(std::chrono::milliseconds duration);

// The widget's picture as its paint events make it (QWidget::grab), as an image.
QImage grabImage(QWidget* widget);

// The objectNames the keyboard focus visits in `window` from `first` on, Tab after Tab
// (`steps` of them; the window is shown and made active first).
QStringList tabChain(QWidget* window, QWidget* first, int steps);

// The control of `window` with this objectName and type, as tools and tests find it; null
// when there is none.
template <class W> W* control(const QWidget& window, const char* objectName) {
    return window.findChild<W*>(QString::fromLatin1(objectName));
}

} // namespace kvr::test
