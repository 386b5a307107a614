#pragma once
// X11 RandR monitor query, with libX11/libXrandr bound at run time (internal to kvr_display).

#include "platform/display/display.h"

#include <optional>

namespace kvr::display::detail {

struct XScreenInfo {
    bool serverAnswered = false; // an X server accepted the connection
    int32_t screenWidthPx = 0;   // default screen's size (0 when unknown)
    int32_t screenHeightPx = 0;
    std::vector<Display> monitors; // primary first; empty when RandR gave none
};

// Asks the X server named by DISPLAY. serverAnswered is false when the libraries are missing
// or no server answers.
XScreenInfo queryX();

} // namespace kvr::display::detail
