#include "utilities/sketch/sketch_layout.h"

#include <cstdint>

namespace kvr::sketch {

namespace {

// The grid's positions in 1/4096 of the size, besides the centre line.
constexpr std::array<std::int32_t, 4> kGridUnits{128, 1088, 3008, 3968};
constexpr std::int32_t kBandPerMille = 10;

std::array<std::int32_t, 5> linesAcross(std::int32_t size) {
    std::array<std::int32_t, 5> at{};
    at[0] = (size * kGridUnits[0]) >> 12;
    at[1] = (size * kGridUnits[1]) >> 12;
    at[2] = size >> 1;
    at[3] = (size * kGridUnits[2]) >> 12;
    at[4] = (size * kGridUnits[3]) >> 12;
    return at;
}

} // namespace

std::uint8_t selectMonitor(std::string_view arguments, std::size_t monitorCount) {
    const auto dash = arguments.find('-');
    if (dash == std::string_view::npos || dash + 1 >= arguments.size()) return 1;
    if (arguments[dash + 1] < '1' || arguments[dash + 1] > '9') return 1;
    std::uint64_t number = 0;
    for (std::size_t i = dash + 1; i < arguments.size(); ++i) {
        const char c = arguments[i];
        if (c < '0' || c > '9') break;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > monitorCount) return 1; // also keeps a long number from overflowing
    }
    return static_cast<std::uint8_t>(number);
}

Grid gridFor(std::int32_t widthPx, std::int32_t heightPx) {
    Grid g;
    g.whiteX = linesAcross(widthPx);
    g.whiteY = linesAcross(heightPx);
    g.bandX = kBandPerMille * widthPx / 1000;
    g.bandY = kBandPerMille * heightPx / 1000;
    return g;
}

ButtonBox clearButtonBox(std::int32_t widthPx, std::int32_t heightPx) {
    return {widthPx / 2 - 150, heightPx / 2 - 100, kButtonWidthPx, kButtonHeightPx};
}

ButtonBox exitButtonBox(std::int32_t widthPx, std::int32_t heightPx) {
    return {widthPx / 2 + 50, heightPx / 2 - 100, kButtonWidthPx, kButtonHeightPx};
}

} // namespace kvr::sketch
