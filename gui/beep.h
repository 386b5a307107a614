#pragma once
// MessageBeep for the windowed programs: the system sound of a message-box type (MB_OK,
// MB_ICONASTERISK, ...), started without waiting.

#include <cstdint>

namespace kvr::gui {

void MessageBeep(uint32_t type);

} // namespace kvr::gui
