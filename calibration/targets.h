#pragma once
// Where the calibration targets are. Targets are given in units of 1/4096 of the display's
// width (x) and height (y) and drawn at the pixel (W * x) >> 12, (H * y) >> 12 of a display
// W x H pixels, in 32-bit two's-complement arithmetic with an arithmetic shift.
//
// Three-point calibration (cal3pt), from the base offsets BPX, BPY of the controller's
// settings; for small offsets:
//
//     2 (BPX, BPY) ----------------- 0 (4096 - BPX, BPY)
//     |                                |
//     1 (BPX, 4096 - BPY)              |
//
// Linearity (linear): a grid with a margin of 128 units (1/32 of the display) on every side.
// Table entries, and the linearity table slots of the library they match:
//
//     4 (128,128) ------- 3 (2048,128) ------- 2 (3968,128)
//     |                                         |
//     5 (128,2048)        0 (2048,2048)         1 (3968,2048)
//     |                                         |
//     6 (128,3968) ------ 7 (2048,3968) ------ 8 (3968,3968)
//
// Nine targets are drawn at entries 0..8 in order; five at entries 0, 2, 4, 6, 8 (centre,
// top right, top left, bottom left, bottom right).

#include <array>
#include <cstdint>
#include <vector>

namespace kvr::calibration {

inline constexpr std::int32_t kDisplayUnits = 4096; // 1/4096 of the width or height
inline constexpr int kDisplayUnitShift = 12;

// A target position in 1/4096 units of the display.
struct TargetUnits {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const TargetUnits&) const = default;
};

// A position in the window, in pixels.
struct TargetPixel {
    std::int32_t px = 0;
    std::int32_t py = 0;
    bool operator==(const TargetPixel&) const = default;
};

TargetPixel targetPixel(std::int32_t widthPx, std::int32_t heightPx, TargetUnits target);

// The three targets of cal3pt in capture order.
std::array<TargetUnits, 3> threePointTargets(std::int32_t bpx, std::int32_t bpy);

inline constexpr std::uint8_t kFiveTargets = 5;
inline constexpr std::uint8_t kNineTargets = 9;
// The targets of linear in capture order, for a grid of 5 or 9 (any other size gives 9).
std::vector<TargetUnits> linearityTargets(std::uint8_t gridSize);

} // namespace kvr::calibration
