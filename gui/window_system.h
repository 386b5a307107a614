#pragma once
// Whether a window can be shown at all. Qt ends a program that cannot reach its window system
// with an abort (and after whatever the program changed before it built its application), so
// every windowed program asks first, before it changes anything.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::gui {

// True when QT_QPA_PLATFORM names a platform, or DISPLAY or WAYLAND_DISPLAY names a server.
bool windowSystemAvailable();

// Where Qt will look for its window system: the platforms it tries in order ("xcb",
// "wayland", "offscreen"...) and the X display it opens. From QT_QPA_PLATFORM (a ';' list, each
// entry maybe with ":options"), else the session's WAYLAND_DISPLAY (then DISPLAY as a fall-back),
// else xcb; `platformArgument` and `displayArgument` are Qt's own -platform and -display options
// when the program hands its command line to Qt.
struct WindowSystemTarget {
    std::vector<std::string> platforms;
    std::string xDisplay;      // DISPLAY, or -display
    std::string waylandSocket; // WAYLAND_DISPLAY as given
};
WindowSystemTarget windowSystemTarget(std::string_view platformArgument = {},
                                      std::string_view displayArgument = {});

// Nothing when one of the target's platforms can be reached: a platform that needs no display
// (offscreen, minimal, or one Qt drives itself), an X server that accepts a connection (xcb),
// a compositor that accepts one on its socket (wayland). Otherwise one line saying which
// display failed and how ("cannot open the display ':99': no X server answers").
std::optional<std::string> displayProblem(const WindowSystemTarget& target);

} // namespace kvr::gui
