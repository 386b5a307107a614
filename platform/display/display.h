#pragma once
// The desktop's displays (monitors) and their rectangles in desktop pixels.
//
// Source, in this order:
//   1. KVR_DISPLAYS="NAME:l,t,r,b;NAME:l,t,r,b" when the variable is set and not empty
//      (headless tests, kiosks). Entries keep the given order. A malformed entry is skipped
//      with a warning; a value without one valid entry means "the displays cannot be
//      enumerated" (empty list). KVR_DISPLAYS=none says so on purpose, without a warning.
//   2. The outputs of the Wayland compositor in WAYLAND_DISPLAY (wl_output with xdg-output),
//      when the session has one: the rectangles are the compositor's logical coordinates
//      (scaled outputs count in logical pixels), the same rectangles XWayland gives its X
//      clients, so every program of the session sees one table whatever its toolkit talks
//      to. Numbered in the order the compositor announces its outputs, which is the order
//      XWayland numbers its monitors in; the name is the output's ("DP-1", "HDMI-A-1").
//      libwayland-client is bound at run time like the X libraries.
//   3. X11 RandR monitors (XRRGetMonitors, active monitors only) of the X server in DISPLAY.
//      libX11 and libXrandr are bound at run time, once per process, so programs and the
//      library run on machines without X. A monitor's name is its RandR monitor name
//      ("DP-1", "HDMI-A-0", ...). The primary monitor comes first, the others follow in the
//      server's order.
//   4. The single-display fall-back: one display named "DISPLAY" at (0, 0) with the X
//      screen's size when an X server answers but reports no monitor, else 1024 x 768.
//
// Rectangles are in desktop pixels (the X root window's, or the compositor's logical
// coordinates): right and bottom are exclusive. On X
// the primary monitor need not start at (0, 0); callers that normalise against "the display
// at (0, 0)" look that entry up themselves. No call throws.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::display {

struct Display {
    std::string name;
    int32_t leftPx = 0;
    int32_t topPx = 0;
    int32_t rightPx = 0;  // exclusive
    int32_t bottomPx = 0; // exclusive
    bool primary = false;

    bool operator==(const Display&) const = default;
};

enum class Source { Override, Wayland, RandR, Fallback };

struct DisplayList {
    std::vector<Display> displays; // empty: the displays cannot be enumerated
    Source source = Source::Fallback;
};

// Size of the fall-back display when not even an X screen size is known.
constexpr int32_t kFallbackWidthPx = 1024;
constexpr int32_t kFallbackHeightPx = 768;
constexpr const char* kFallbackName = "DISPLAY";

// Enumerates the displays now (every call asks again: monitors come and go).
DisplayList enumerate();

// Parses a KVR_DISPLAYS value. Entries are separated by ';' (empty entries are ignored),
// each "NAME:left,top,right,bottom" with decimal numbers in -262144..262143, right > left
// and bottom > top, and a name without ':' or ';'. Malformed entries are skipped with a warning.
// In the result the first entry whose rectangle starts at (0, 0) is marked primary.
std::vector<Display> parseDisplayList(std::string_view text);

// "text" of a Source ("override", "wayland", "randr", "fallback") for diagnostics.
const char* sourceName(Source source);

} // namespace kvr::display
