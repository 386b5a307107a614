#pragma once
// The outputs of a Wayland compositor (internal to kvr_display): wl_output for each output and,
// where the compositor offers it, xdg-output for the output's logical position and size.
// libwayland-client is bound at run time, once per process, so the suite runs on machines
// without it.

#include "platform/display/display.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvr::display::detail {

// What the compositor said about one output.
struct OutputReport {
    // wl_output: position in the compositor's space, current mode in buffer pixels, integer
    // scale, transform (odd values turn the output by 90 or 270 degrees), name (version 4).
    int32_t x = 0;
    int32_t y = 0;
    int32_t modeWidthPx = 0;
    int32_t modeHeightPx = 0;
    int32_t scale = 1;
    int32_t transform = 0;
    std::string outputName;
    // xdg-output: logical position and size, name (version 2).
    bool haveLogicalPosition = false;
    bool haveLogicalSize = false;
    int32_t logicalX = 0;
    int32_t logicalY = 0;
    int32_t logicalWidth = 0;
    int32_t logicalHeight = 0;
    std::string xdgName;
};

// The output's rectangle in the compositor's logical coordinates (what XWayland reports as
// the monitor and what a native window's screen geometry is): the xdg-output position and
// size, else the wl_output position with the mode divided by the scale (turned for odd
// transforms). Nothing for an output of no size. The name is the output's (wl_output, else
// xdg-output), else "OUTPUT" and the 1-based `position`.
std::optional<Display> logicalDisplay(const OutputReport& output, std::size_t position);

// The displays of the outputs in the order the compositor announced them (the order XWayland
// numbers its monitors in); the first at (0, 0) is marked primary.
std::vector<Display> displaysFromOutputs(const std::vector<OutputReport>& outputs);

struct WaylandInfo {
    bool compositorAnswered = false;
    std::vector<Display> outputs;
};

// Asks the compositor named by WAYLAND_DISPLAY (a name in XDG_RUNTIME_DIR, or a path).
// Nothing is asked when the variable is unset or libwayland-client is missing; a compositor
// that does not answer within a short deadline counts as none.
WaylandInfo queryWayland();

} // namespace kvr::display::detail
