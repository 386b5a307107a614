#include "emulator/packets.h"

#include <algorithm>

namespace kvr::emu {

std::array<uint8_t, mpacket::kSize> encodeM(const TouchSample& s, bool lowHalfFirst) {
    using namespace mpacket;
    const uint16_t x = std::min(s.rawX, kMaxCoordinate);
    const uint16_t y = std::min(s.rawY, kMaxCoordinate);
    const auto low = [](uint16_t v) { return static_cast<uint8_t>(v & kPayloadMask); };
    const auto high = [](uint16_t v) { return static_cast<uint8_t>((v >> 7) & kPayloadMask); };
    uint8_t lead = kLeadMark;
    if (s.penDown) lead |= kPenDown;
    if (lowHalfFirst) lead |= kLowHalfFirst;
    if (s.sideButton) lead |= kSideButton;
    if (lowHalfFirst) return {lead, low(x), high(x), low(y), high(y)};
    return {lead, high(x), low(x), high(y), low(y)};
}

std::array<uint8_t, epacket::kSize> encodeE(const TouchSample& s) {
    using namespace epacket;
    const uint16_t x = std::min(s.rawX, kMaxCoordinate);
    const uint16_t y = std::min(s.rawY, kMaxCoordinate);
    uint8_t status = kStatusMark;
    if (s.penDown)
        status |= kTouched;
    else
        status |= kRelease;
    if (s.sideButton) status |= kSideButton;
    std::array<uint8_t, kSize> p = {kHeader0,
                                    kHeader1,
                                    status,
                                    static_cast<uint8_t>(x & 0xFF),
                                    static_cast<uint8_t>((x >> 8) & 0x0F),
                                    static_cast<uint8_t>(y & 0xFF),
                                    static_cast<uint8_t>((y >> 8) & 0x0F),
                                    0x00,
                                    0x00,
                                    0x00};
    uint8_t sum = kChecksumSeed;
    for (int i = 0; i < 8; ++i)
        sum = static_cast<uint8_t>(sum + p[i]);
    p[9] = sum;
    return p;
}

} // namespace kvr::emu
