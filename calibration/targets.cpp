#include "calibration/targets.h"

namespace kvr::calibration {
namespace {

// 32-bit arithmetic that wraps as the machine's does, without the undefined behaviour of
// signed overflow (offsets come from the settings store and may hold anything).
std::int32_t wrap(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}
std::int32_t times(std::int32_t a, std::int32_t b) {
    return wrap(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
std::int32_t minus(std::int32_t a, std::int32_t b) {
    return wrap(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

constexpr std::int32_t kMargin = 128;
constexpr std::int32_t kMiddle = 2048;
constexpr std::int32_t kFar = kDisplayUnits - kMargin; // 3968

constexpr std::array<TargetUnits, kNineTargets> kGrid = {{
    {kMiddle, kMiddle}, // 0 centre
    {kFar, kMiddle},    // 1 right edge, middle
    {kFar, kMargin},    // 2 top right
    {kMiddle, kMargin}, // 3 top edge, middle
    {kMargin, kMargin}, // 4 top left
    {kMargin, kMiddle}, // 5 left edge, middle
    {kMargin, kFar},    // 6 bottom left
    {kMiddle, kFar},    // 7 bottom edge, middle
    {kFar, kFar},       // 8 bottom right
}};

} // namespace

TargetPixel targetPixel(std::int32_t widthPx, std::int32_t heightPx, TargetUnits target) {
    // >> on a negative int32 is an arithmetic shift in C++20.
    return {times(widthPx, target.x) >> kDisplayUnitShift,
            times(heightPx, target.y) >> kDisplayUnitShift};
}

std::array<TargetUnits, 3> threePointTargets(std::int32_t bpx, std::int32_t bpy) {
    return {{
        {minus(kDisplayUnits, bpx), bpy}, // 0
        {bpx, minus(kDisplayUnits, bpy)}, // 1
        {bpx, bpy},                       // 2
    }};
}

std::vector<TargetUnits> linearityTargets(std::uint8_t gridSize) {
    if (gridSize == kFiveTargets) return {kGrid[0], kGrid[2], kGrid[4], kGrid[6], kGrid[8]};
    return {kGrid.begin(), kGrid.end()};
}

} // namespace kvr::calibration
