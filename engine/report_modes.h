#pragma once
// Pointer report modes: turn each pointer sample into a move, press or release for the
// pointer class callback, and raise the touch notifications.

#include "engine/device.h"

namespace kvr::engine {

// Device lock held by the caller; each takes the driver-wide lock and, around the delivery,
// the pointer-port lock. `sample` carries the pointer position; its button flags are set here.
void UDrawingModeFunc(Rs232Device& device, MouseInputData& sample, bool penDown, bool right);
void UDesktopModeFunc(Rs232Device& device, MouseInputData& sample, bool penDown, bool right);
void ButtonModeFunc(Rs232Device& device, MouseInputData& sample);

// Hands one sample to the mode selected by device.ReportMode.
void ReportSample(Rs232Device& device, MouseInputData& sample, bool penDown, bool right);

} // namespace kvr::engine
