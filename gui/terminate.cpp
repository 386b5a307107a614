#include "gui/terminate.h"

#include "gui/single_instance.h"
#include "platform/desktop/windows.h"

#include <QSocketNotifier>
#include <QWidget>

namespace kvr::gui {

void closeOnTerminate(QWidget* window) {
    const int fd = desktop::windowMessageFd();
    if (fd < 0 || window == nullptr) return;
    // Owned by the window, so it goes when the window goes.
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        while (const auto message = desktop::readWindowMessage()) {
            if (*message == desktop::WindowMessage::Destroy)
                window->close();
            else
                bringToForeground(window);
        }
    });
}

} // namespace kvr::gui
