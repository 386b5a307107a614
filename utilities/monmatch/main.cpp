// monmatch: binds touch controllers to displays. Each display in turn is covered by a window
// that shows its number and asks for a touch; the controller touched is bound to that display
// (the touch library records it). Esc skips a display. Takes no arguments.

#include "gui/controller_trouble.h"
#include "gui/library_worker.h"
#include "gui/program.h"
#include "gui/terminate.h"
#include "platform/desktop/windows.h"
#include "tsapi/tsapi.h"
#include "utilities/monmatch/matcher.h"
#include "utilities/monmatch/monmatch_window.h"

#include <QApplication>
#include <cstdio>

namespace {

const kvr::gui::ProgramInfo kInfo{
    "monmatch",
    "monmatch",
    "Binds touch controllers to displays. The displays are offered one after the other\n"
    "(numbered as the touch library numbers them: KVR_DISPLAYS, else the Wayland\n"
    "compositor's outputs, else the X server's monitors); touch the screen that shows the\n"
    "number, or press Esc to leave that display as it is. Controllers in button mode are in\n"
    "drawing mode while the program runs and are switched back when it ends (also on\n"
    "SIGTERM).",
    "",
    {{0, "ended (after the last display, or with no display or no window to show)"}},
    {},
    true,
};

} // namespace

int main(int argc, char** argv) {
    if (auto code = kvr::gui::beginProgram(argc, argv, kInfo)) return *code;
    // SIGTERM closes the window, so the report modes are given back as after the last display.
    kvr::desktop::windowMessageFd();
    QApplication app(argc, argv);
    kvr::gui::installProgramHooks(app);
    kvr::gui::LibraryWorker worker;
    using kvr::gui::libraryCall;

    // Touches come through the driver: without a controller it can reach none is matched.
    if (libraryCall([] { return GetExistControllers(); }) == 0 ||
        kvr::gui::findControllerTrouble().kind != kvr::gui::ControllerTrouble::NoAnswer)
        std::fprintf(stderr, "monmatch: %s\n", kvr::gui::controllerTroubleCause().c_str());
    kvr::monmatch::ReportModes modes;
    libraryCall([&] { modes.saveAndSwitch(); });
    kvr::monmatch::MonitorMatcher matcher;
    if (!libraryCall([&] { return matcher.start() && matcher.area(1).has_value(); })) {
        std::fprintf(stderr, "monmatch: no display to match a controller to\n");
        libraryCall([&] { modes.restore(); });
        return 0;
    }
    int code = 0;
    {
        kvr::monmatch::MonmatchWindow window(matcher);
        window.showOnCurrentDisplay();
        // After the window shows: a SIGTERM sent during the start-up closes it now.
        kvr::gui::closeOnTerminate(&window);
        if (window.isVisible()) code = app.exec();
    }
    libraryCall([&] { modes.restore(); });
    return code;
}
