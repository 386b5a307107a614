// RClick: the manual right-click program. A small window that stays on top of the others with
// one button; pressing it arms a right click for the next touch (the drivers turn the next
// touch on any controller into a right click). The library starts this program when the
// manual right-click switch is turned on and closes it, by its window title "RClick", when
// the switch is turned off.

#include "platform/desktop/windows.h"
#include "platform/ipc/event.h"
#include "tsapi/tsapi.h"

#include <QApplication>
#include <QPushButton>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

constexpr const char* kWindowTitle = "RClick";
constexpr const char* kIdleText = "Right click";
constexpr const char* kArmedText = "Right click: touch now";

// Arms the drivers for one right click. The library reaches only the drivers of the
// controllers it has listed in this process, so the list is taken again each time (a
// controller attached since the last press is included).
bool armRightClick() {
    if (GetExistControllers() == 0) return false;
    return SetManualRightClick(1) == 1;
}

} // namespace

int main(int argc, char** argv) {
    // Catch "destroy" before the window can be found by its title, so a destroy sent at once
    // after the start still closes the window cleanly.
    const int messageFd = kvr::desktop::windowMessageFd();

    QApplication app(argc, argv);

    auto registration = kvr::desktop::WindowRegistration::create(kWindowTitle);
    if (!registration) {
        // One RClick window is enough: show the one that is there.
        if (kvr::desktop::bringToFront(kWindowTitle)) return 0;
        std::fprintf(stderr, "RClick: cannot register the window (runtime folder unusable)\n");
        return 1;
    }

    QWidget window(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    window.setWindowTitle(kWindowTitle);
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton(kIdleText, &window);
    button->setObjectName("arm");
    layout->addWidget(button);

    // The drivers signal this event once the armed right click has been used up; the button
    // then shows that nothing is armed any more.
    std::optional<kvr::ipc::Event> usedUp = kvr::ipc::Event::create();
    std::optional<QSocketNotifier> usedUpNotifier;
    bool eventGiven = false;

    QObject::connect(button, &QPushButton::clicked, &window, [&] {
        if (!armRightClick()) {
            std::fprintf(stderr, "RClick: no touch controller to arm\n");
            return;
        }
        if (usedUp && !eventGiven) {
            // Handed over once the drivers are open (the arming call opens them).
            eventGiven = SetManualRightEvent(
                             reinterpret_cast<void*>(static_cast<intptr_t>(usedUp->fd()))) == 1;
        }
        button->setText(kArmedText);
    });
    if (usedUp) {
        usedUpNotifier.emplace(usedUp->fd(), QSocketNotifier::Read);
        QObject::connect(&*usedUpNotifier, &QSocketNotifier::activated, &window, [&] {
            usedUp->reset();
            button->setText(kIdleText);
        });
    }

    // "Destroy" (SIGTERM) closes the window and ends the program; "bring to front" raises it.
    std::optional<QSocketNotifier> messages;
    if (messageFd >= 0) {
        messages.emplace(messageFd, QSocketNotifier::Read);
        QObject::connect(&*messages, &QSocketNotifier::activated, &window, [&] {
            while (const auto message = kvr::desktop::readWindowMessage()) {
                if (*message == kvr::desktop::WindowMessage::Destroy) {
                    window.close();
                    app.quit();
                } else {
                    window.show();
                    window.raise();
                    window.activateWindow();
                }
            }
        });
    }

    window.resize(160, 60);
    window.show();
    return app.exec();
}
