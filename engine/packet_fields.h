#pragma once
// Named bits and coordinate readers of the M and E packets (layouts drawn in decode.h).
// Internal to the engine.

#include <cstdint>

namespace kvr::engine {

inline constexpr std::uint8_t kMLeadPenDown = 0x40;    // lead bit 6
inline constexpr std::uint8_t kMLeadLowFirst = 0x10;   // lead bit 4
inline constexpr std::uint8_t kMLeadSideButton = 0x01; // lead bit 0
inline constexpr std::uint8_t kMSignBit = 0x40;        // bit 6 of a high half (multi-point)
inline constexpr std::int32_t kMCoordMax = 0x3FFF;

inline constexpr std::uint8_t kEStatusTouched = 0x03;    // bit 0 or bit 1
inline constexpr std::uint8_t kEStatusRelease = 0x04;    // bit 2
inline constexpr std::uint8_t kEStatusSideButton = 0x08; // bit 3

// Positions of the coordinate halves within an M packet, by the lead's byte order bit.
struct MHalves {
    int xHigh, xLow, yHigh, yLow;
};

constexpr MHalves MHalvesOf(std::uint8_t lead) {
    return (lead & kMLeadLowFirst) ? MHalves{2, 1, 4, 3} : MHalves{1, 2, 3, 4};
}

constexpr std::int32_t MCoord14(const std::uint8_t* packet, int high, int low) {
    return packet[high] * 128 + packet[low];
}

constexpr std::int32_t ECoordX(const std::uint8_t* packet) {
    return packet[3] + packet[4] * 256;
}
constexpr std::int32_t ECoordY(const std::uint8_t* packet) {
    return packet[5] + packet[6] * 256;
}

} // namespace kvr::engine
