#include "gui/terminate.h"

#include "gui/single_instance.h"
#include "platform/desktop/windows.h"

#include <QSocketNotifier>
#include <QWidget>

namespace kvr::gui {

void closeOnTerminate(QWidget* window) {
    const int fd = desktop::windowMessageFd();
    if (fd < 0 || window == nullptr) return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, window);
    auto handle = [window] {
        while (const auto message = desktop::readWindowMessage()) {
            if (*message == desktop::WindowMessage::Destroy)
                window->close();
            else
                bringToForeground(window);
        }
    };
    QObject::connect(notifier, &QSocketNotifier::activated, window, handle);
    handle(); // messages that came before the window was there
}

} // namespace kvr::gui
