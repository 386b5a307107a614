#pragma once
// What the drawing test shows, as plain numbers: which monitor the command line picks, where
// the reference grid and its tolerance bands lie, and where the two buttons sit. All of it in
// window pixels of a monitor W x H, with the integer arithmetic the grid is defined by.

#include <array>
#include <cstdint>
#include <string_view>

namespace kvr::sketch {

// The monitor number the argument string asks for: the first '-' followed by a digit 1..9
// starts a decimal number, used when it is not above `monitorCount`; monitor 1 otherwise.
// The result is 1-based.
std::uint8_t selectMonitor(std::string_view arguments, std::size_t monitorCount);

// The reference grid of a W x H window.
struct Grid {
    std::array<std::int32_t, 5> whiteX{}; // vertical white lines, left to right
    std::array<std::int32_t, 5> whiteY{}; // horizontal white lines, top to bottom
    std::int32_t bandX = 0;               // yellow lines at whiteX +- bandX
    std::int32_t bandY = 0;               // yellow lines at whiteY +- bandY
};
// Lines at size * k >> 12 for k = 128, 1088, 3008, 3968 and the centre size >> 1 (32-bit
// signed products); the bands 1 % of the size, 10 * size / 1000.
Grid gridFor(std::int32_t widthPx, std::int32_t heightPx);

// The buttons: 100 x 50, tops at H / 2 - 100, left edges at W / 2 - 150 ("Clear") and
// W / 2 + 50 ("Exit").
struct ButtonBox {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
};
inline constexpr std::int32_t kButtonWidthPx = 100;
inline constexpr std::int32_t kButtonHeightPx = 50;
ButtonBox clearButtonBox(std::int32_t widthPx, std::int32_t heightPx);
ButtonBox exitButtonBox(std::int32_t widthPx, std::int32_t heightPx);

} // namespace kvr::sketch
