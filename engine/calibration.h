#pragma once
// Three-point calibration and the raw-point capture that calibration programs drive.

#include "engine/device.h"

#include <cstdint>

namespace kvr::engine {

// The eight values of a device's calibration set.
struct CalibrationSet {
    std::int32_t CP1X = kDefaultCP1X, CP1Y = kDefaultCP1Y;
    std::int32_t CP2X = kDefaultCP2X, CP2Y = kDefaultCP2Y;
    std::int32_t CP3X = kDefaultCP3X, CP3Y = kDefaultCP3Y;
    std::int32_t BPX = kDefaultBPX, BPY = kDefaultBPY;
};

CalibrationSet CalibrationOf(const Rs232Device& device);
void StoreCalibration(Rs232Device& device, const CalibrationSet& set);

// True when the set can be used by Do3PCalibration: every value is a 12-bit position
// (0..4095) and the targets are not collinear at the 10-bit resolution the mapping works at
// (determinant of the quarter values not 0). The control interface calls this before it
// stores calibration values or a base point and refuses a set that fails it.
bool CalibrationUsable(const CalibrationSet& set);
// The check made on the values loaded at connect: determinant of the full 12-bit values is 0.
bool FullDeterminantIsZero(const CalibrationSet& set);

// Maps a raw 12-bit sensor position to calibrated 12-bit screen coordinates (not clamped).
// A stored set that is not CalibrationUsable() is never divided by: the defaults are used in
// its place, as at connect.
ScreenPoint Do3PCalibration(const Rs232Device& device, std::int32_t rawX, std::int32_t rawY);
ScreenPoint Do3PCalibration(const CalibrationSet& set, std::int32_t rawX, std::int32_t rawY);

// Calibration capture of a complete packet (device lock held; CaptureActive = 1).
void MGetCaliRawData(Rs232Device& device);
void EGetCaliRawData(Rs232Device& device);

// Capture control as the control interface starts and stops it (device lock held).
// Three-point capture of target k (< 3); multi-point capture of point k of n (3, 5 or 9).
// Both return false, changing nothing, when n or k is out of range.
bool StartThreePointCapture(Rs232Device& device, std::uint8_t k);
bool StartMultiPointCapture(Rs232Device& device, std::uint8_t n, std::uint8_t k);
// Stops any capture as the multi-point request does: kind, index, PointReady, PenLifted,
// CaptureActive and SampleCount become 0.
void StopMultiPointCapture(Rs232Device& device);
// Stops any capture as the three-point request does: kind, index, CaptureActive, PointReady
// and SampleCount become 0 and RawPoint[0] is cleared; PenLifted is left as it was.
void StopThreePointCapture(Rs232Device& device);
// The captured point when PointReady is 1 (true); false, and `out` zeroed, otherwise. Never
// reads past RawPoint whatever CaptureIndex holds.
bool ReadyCapturedPoint(const Rs232Device& device, RawPointEntry& out);

} // namespace kvr::engine
