#pragma once
// Windows that cover one display exactly (the calibration programs, the drawing test, the
// monitor matching screens). `rect` is the display's rectangle in desktop pixels as the
// library's display table gives it (right and bottom exclusive).
//   - A rectangle that equals a screen's geometry: the window gets that geometry and is
//     shown full-screen on that screen. As a native Wayland client the screen is chosen
//     before the window is shown (a client cannot place itself; the compositor puts a
//     full-screen window on the output it is given). As an X client (also under XWayland)
//     it is mapped at the rectangle and made full-screen then, so its X position is the
//     output's; the geometry keeps it right where no window manager handles the full-screen
//     state, as under a bare X server.
//   - Any other rectangle (a part of a partitioned display, or no screen matches): a
//     frameless window that stays on top, placed exactly on the rectangle (X11; a Wayland
//     compositor places such a window itself).
// Either way the window asks to stay on top of the others and is activated. Wayland has no
// "stay on top" for clients: there the full-screen state is what keeps the window in front of
// the output's other windows.

#include <QRect>

class QWidget;

namespace kvr::gui {

// The desktop rectangle from the library's left, top, right (exclusive), bottom (exclusive).
QRect displayRect(int left, int top, int right, int bottom);

// Sets the window's flags and geometry for `rect` and shows it there.
void showOnDisplay(QWidget* window, const QRect& rect);

// The same placement for a window that must not stay above the others (the monitor matching
// screens): full-screen on a matching screen, else a frameless window exactly on `rect`.
// Called again with another rectangle it moves the shown window there.
void showOnDisplayNotOnTop(QWidget* window, const QRect& rect);

// True when some screen of the application has exactly this geometry.
bool isScreenGeometry(const QRect& rect);

// False where a window cannot raise or activate itself (a native Wayland client: only the
// compositor gives the keyboard and the front), so keeping it in front is not tried.
bool canBringItselfToFront();

} // namespace kvr::gui
