#include "gui/window_system.h"

#include <cstdlib>
#include <initializer_list>

namespace kvr::gui {

bool windowSystemAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

} // namespace kvr::gui
