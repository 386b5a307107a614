#pragma once
// One running copy per window class ("CAL3PT", "LINEAR", ...). The first copy registers the
// class name as a window of platform/desktop; a second copy finds it, asks it to come to the
// front and ends. The running copy, once a window is attached, restores, raises and
// activates that window when asked to come to the front (SIGUSR1), and closes it when told
// to go ("destroy", SIGTERM), as the window's own close would.

#include "platform/desktop/windows.h"

#include <optional>
#include <string_view>

class QWidget;

namespace kvr::gui {

class SingleInstance {
public:
    // Registers `className` for this process. Nothing when another live copy holds it (that
    // copy has then been asked to come to the front) or the runtime folder is unusable;
    // `otherRunning` tells which.
    static std::optional<SingleInstance> acquire(std::string_view className,
                                                 bool* otherRunning = nullptr);

    SingleInstance(SingleInstance&&) noexcept;
    SingleInstance& operator=(SingleInstance&&) noexcept;
    ~SingleInstance();

    // The window that "bring to front" and "destroy" act on from now on.
    void attach(QWidget* window);

private:
    SingleInstance();
    std::optional<desktop::WindowRegistration> registration_;
};

// Restores a minimised window, raises it and gives it the keyboard (what "bring to the
// foreground" means for the suite's windows).
void bringToForeground(QWidget* window);

} // namespace kvr::gui
