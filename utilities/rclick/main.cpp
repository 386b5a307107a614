// RClick: the manual right-click program. A small window that stays on top of the others with
// one button; pressing it arms a right click for the next touch (the drivers turn the next
// touch on any controller into a right click). The library starts this program when the
// manual right-click switch is turned on and closes it, by its window class "RClick", when
// the switch is turned off.

#include "gui/library_worker.h"
#include "gui/program.h"
#include "gui/single_instance.h"
#include "platform/desktop/command_line.h"
#include "utilities/rclick/rclick_window.h"

#include <QApplication>

namespace {

const kvr::gui::ProgramInfo kInfo{
    "RClick",
    "RClick [Qt options]",
    "The manual right-click window: its button arms a right click for the next touch on any\n"
    "controller. The touch library starts it when the manual right-click switch is turned on\n"
    "and closes it when the switch is turned off. One window at a time: a second start shows\n"
    "the first. Qt's own options (-platform NAME, -display DISPLAY, ...) are taken.",
    "",
    {{0, "the window was closed, or another RClick is running (it was brought to the front)"},
     {1, "the window cannot be registered (runtime folder unusable)"},
     {2, "usage error: an argument RClick does not take"}},
    {},
    true,
};

} // namespace

int main(int argc, char** argv) {
    if (const auto code = kvr::gui::beginProgram(argc, argv, kInfo)) return *code;
    QApplication app(argc, argv);
    // Qt took its own options out; anything left is a mistake.
    if (const QStringList rest = QApplication::arguments(); rest.size() > 1)
        return kvr::cli::usageError("RClick", "unexpected argument '" +
                                                  kvr::cli::quoted(rest[1].toStdString()) + "'");
    kvr::gui::installProgramHooks(app);

    // One RClick window is enough: a second start shows the one that is there.
    bool otherRunning = false;
    auto instance = kvr::gui::SingleInstance::acquire(kvr::rclick::kWindowClass, &otherRunning);
    if (!instance) {
        if (otherRunning) return 0;
        return kvr::cli::failure("RClick", "cannot register the window (runtime folder unusable)");
    }

    kvr::gui::LibraryWorker worker;
    kvr::rclick::RightClickArming arming;
    kvr::rclick::RClickWindow window(arming);
    window.show();
    // "Destroy" (SIGTERM) closes the window and ends the program; "bring to front" raises it.
    // Attached once the window shows: a destroy sent during the start-up acts on it now.
    instance->attach(&window);
    if (!window.isVisible()) return 0;
    return QApplication::exec();
}
