#pragma once
// Pointer report modes: turn each pointer sample into a move, press or release for the
// pointer class callback, and raise the touch notifications.

#include "engine/device.h"

#include <cstdint>

namespace kvr::engine {

// Device lock held by the caller; each takes the driver-wide lock and, around the delivery,
// the pointer-port lock. `sample` carries the pointer position; its button flags are set here.
void UDrawingModeFunc(Rs232Device& device, MouseInputData& sample, bool penDown, bool right);
void UDesktopModeFunc(Rs232Device& device, MouseInputData& sample, bool penDown, bool right);
void ButtonModeFunc(Rs232Device& device, MouseInputData& sample);

// Hands one sample to the mode selected by device.ReportMode.
void ReportSample(Rs232Device& device, MouseInputData& sample, bool penDown, bool right);
// The end of the coordinate report: places calibrated, snapped, rotated 12-bit coordinates
// in the device's DisplayPartition entry and hands the sample to the report mode, under one
// hold of the driver-wide lock. Device lock held by the caller.
void ReportInPartition(Rs232Device& device, std::int64_t x12, std::int64_t y12, bool penDown,
                       bool right);

// The controller has gone (disconnect, hang-up, daemon unload) in the middle of a touch: no
// pen-up will come. Every button the touch holds down is released at the last pointer
// position, the driver-wide lift notification is raised (the touch is over), and the touch
// state is forgotten, so the next connection's first touch starts with a press. No touch
// sound: nobody lifted a finger. Nothing is delivered while no pointer class callback is
// connected. Device lock held by the caller.
void ReleaseTouch(Rs232Device& device);

} // namespace kvr::engine
