#pragma once
// Whether a window can be shown at all. Qt ends a program that cannot reach a window system
// with an abort; the programs that must end with their own code when no window can be made
// ask first.

namespace kvr::gui {

// True when QT_QPA_PLATFORM names a platform, or DISPLAY or WAYLAND_DISPLAY names a server.
bool windowSystemAvailable();

} // namespace kvr::gui
