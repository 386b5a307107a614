// sketch: draw freely on one monitor to check a touch screen's calibration. The window covers
// the monitor with a reference grid and tolerance bands; a touch (the left button) draws a red
// trace. "Clear" or Esc wipes the trace, "Exit" or Esc on a clean window ends the program.

#include "gui/display_window.h"
#include "gui/program.h"
#include "platform/display/display.h"
#include "utilities/sketch/sketch_layout.h"
#include "utilities/sketch/sketch_window.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>

namespace {

const kvr::gui::ProgramInfo kInfo{
    "sketch",
    "sketch [-N]",
    "Covers one monitor with a reference grid (white lines 128/4096 in from the edges, 960/4096\n"
    "apart, and the centre lines) and tolerance bands (yellow, 1 % of the size to each side),\n"
    "and draws a red trace while the screen is touched (left button, no Shift or Ctrl).\n"
    "Clear or Esc wipes the trace; Exit, or Esc on a clean window, ends the program.\n"
    "\n"
    "  -N   the monitor to cover, 1 = first, numbered as the touch library numbers displays\n"
    "       (KVR_DISPLAYS, else the Wayland compositor's outputs, else the X server's\n"
    "       monitors); 0 or a number above the number of monitors selects monitor 1",
    "",
    {{0, "ended normally"}, {-1, "the monitors cannot be enumerated"}},
    {},
    true,
};

constexpr int kExitNoMonitors = -1;

} // namespace

int main(int argc, char** argv) {
    if (auto code = kvr::gui::beginProgram(argc, argv, kInfo)) return *code;
    const std::string arguments = kvr::gui::joinedArguments(argc, argv);

    const auto monitors = kvr::display::enumerate().displays;
    if (monitors.empty()) {
        std::fprintf(stderr, "sketch: the monitors cannot be enumerated\n");
        return kvr::gui::exitStatus(kExitNoMonitors);
    }
    const std::size_t count = std::min<std::size_t>(monitors.size(), 255);
    const auto& monitor = monitors[kvr::sketch::selectMonitor(arguments, count) - 1];

    QApplication app(argc, argv);
    kvr::gui::installProgramHooks(app);
    const QRect rect =
        kvr::gui::displayRect(monitor.leftPx, monitor.topPx, monitor.rightPx, monitor.bottomPx);
    kvr::sketch::SketchWindow window(rect.size());
    kvr::gui::showOnDisplay(&window, rect);
    return app.exec();
}
