#include "gui/single_instance.h"

#include "gui/terminate.h"

#include <QWidget>

namespace kvr::gui {

SingleInstance::SingleInstance() = default;
SingleInstance::SingleInstance(SingleInstance&&) noexcept = default;
SingleInstance& SingleInstance::operator=(SingleInstance&&) noexcept = default;
SingleInstance::~SingleInstance() = default;

std::optional<SingleInstance> SingleInstance::acquire(std::string_view className,
                                                      bool* otherRunning) {
    // Catch "destroy" and "bring to front" before the name can be found, so a message sent
    // at once after the start is not lost (it waits in the pipe until a window is attached).
    desktop::windowMessageFd();
    auto registration = desktop::WindowRegistration::create(className);
    if (!registration) {
        const bool other = desktop::bringToFront(className);
        if (otherRunning != nullptr) *otherRunning = other;
        return std::nullopt;
    }
    if (otherRunning != nullptr) *otherRunning = false;
    SingleInstance instance;
    instance.registration_ = std::move(registration);
    return instance;
}

void SingleInstance::attach(QWidget* window) {
    closeOnTerminate(window);
}

void bringToForeground(QWidget* window) {
    if (window == nullptr) return;
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible()) window->show();
    window->raise();
    window->activateWindow();
}

} // namespace kvr::gui
