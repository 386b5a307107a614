// RClick: the manual right-click program. A small window that stays on top of the others with
// one button; pressing it arms a right click for the next touch (the drivers turn the next
// touch on any controller into a right click). The library starts this program when the
// manual right-click switch is turned on and closes it, by its window title "RClick", when
// the switch is turned off.

#include "platform/desktop/command_line.h"
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

constexpr const char* kUsage =
    "Usage: RClick [Qt options]\n"
    "The manual right-click window: its button arms a right click for the next touch on any\n"
    "controller. The touch library starts it when the manual right-click switch is turned on\n"
    "and closes it when the switch is turned off. One window at a time: a second start shows\n"
    "the first.\n"
    "\n"
    "Options: --help, --version, and Qt's own (-platform NAME, -display DISPLAY, ...).\n"
    "\n";

// --help and --version before Qt starts (they need no display). Nothing: go on.
std::optional<int> earlyOptions(int argc, char** argv) {
    if (argc < 2) return std::nullopt;
    if (kvr::cli::isHelp(argv[1])) {
        std::printf("%s%s", kUsage, kvr::cli::exitStatusText().c_str());
        return kvr::cli::kExitOk;
    }
    if (kvr::cli::isVersion(argv[1])) return kvr::cli::printVersion("RClick");
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto code = earlyOptions(argc, argv)) return *code;
    // Catch "destroy" before the window can be found by its title, so a destroy sent at once
    // after the start still closes the window cleanly.
    const int messageFd = kvr::desktop::windowMessageFd();

    QApplication app(argc, argv);
    // Qt took its own options out; anything left is a mistake.
    if (const QStringList rest = QApplication::arguments(); rest.size() > 1)
        return kvr::cli::usageError("RClick",
                                    "unexpected argument '" + rest[1].toStdString() + "'");

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
