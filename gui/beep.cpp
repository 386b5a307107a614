#include "gui/beep.h"

#include "platform/sound/sound.h"

namespace kvr::gui {

void MessageBeep(uint32_t type) {
    kvr::sound::messageBeep(type);
}

} // namespace kvr::gui
