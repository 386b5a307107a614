#include "panel/library.h"

#include "gui/message_box.h"
#include "platform/desktop/message_box.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <string>

namespace kvr::panel::lib {

std::recursive_mutex& libraryLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::unique_lock<std::recursive_mutex> acquire() {
    std::unique_lock<std::recursive_mutex> lock(libraryLock(), std::try_to_lock);
    while (!lock.owns_lock()) {
        protocol::WaitMilliseconds(1);
        lock.try_lock();
    }
    return lock;
}

void routeMessageBoxes() {
    desktop::setMessageBoxHook([](std::string_view text, std::string_view caption,
                                  std::uint32_t type) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr || QThread::currentThread() == app->thread())
            return gui::showMessageBox(text, caption, type);
        int result = desktop::defaultButtonResult(type);
        const std::string t(text), c(caption);
        QMetaObject::invokeMethod(
            app, [&] { result = gui::showMessageBox(t, c, type); }, Qt::BlockingQueuedConnection);
        return result;
    });
}

} // namespace kvr::panel::lib
