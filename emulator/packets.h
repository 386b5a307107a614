#pragma once
// Touch packets as the controller puts them on the wire.
//
// M packet, 5 bytes (raw coordinates 14 bits, 0..16383):
//
//   byte 0  lead   1 P 0 O 0 0 0 B     P = pen down, O = order (1: low half first),
//                                      B = side (right) button
//   byte 1..4      0 d d d d d d d     7 payload bits each
//     O = 1: X low, X high, Y low, Y high      O = 0: X high, X low, Y high, Y low
//
// E packet, 10 bytes (raw coordinates 12 bits, 0..4095):
//
//   byte 0  0x55 'U'        byte 5  Y bits 0..7
//   byte 1  0x54 'T'        byte 6  0 0 0 0 Y11..Y8
//   byte 2  1 0 0 0 B R T T byte 7  0x00 (spare)
//           T = touched (bit 0; bit 1 is its twin, left clear),
//           R = release flag (pen-up sample), B = side button
//   byte 3  X bits 0..7     byte 8  0x00
//   byte 4  0 0 0 0 X11..X8 byte 9  checksum: 0xAA + bytes 0..7, modulo 256

#include "emulator/profile.h"

#include <array>
#include <cstdint>

namespace kvr::emu {

namespace mpacket {
constexpr uint8_t kLeadMark = 0x80;     // bit 7: packet start
constexpr uint8_t kPenDown = 0x40;      // bit 6
constexpr uint8_t kLowHalfFirst = 0x10; // bit 4
constexpr uint8_t kSideButton = 0x01;   // bit 0
constexpr uint8_t kPayloadMask = 0x7F;
constexpr uint16_t kMaxCoordinate = 0x3FFF;
constexpr int kSize = 5;
} // namespace mpacket

namespace epacket {
constexpr uint8_t kHeader0 = 0x55;
constexpr uint8_t kHeader1 = 0x54;
constexpr uint8_t kStatusMark = 0x80; // bit 7 of the status byte is always set
constexpr uint8_t kTouched = 0x01;    // bit 0
constexpr uint8_t kRelease = 0x04;    // bit 2
constexpr uint8_t kSideButton = 0x08; // bit 3
constexpr uint8_t kChecksumSeed = 0xAA;
constexpr uint16_t kMaxCoordinate = 0x0FFF;
constexpr int kSize = 10;
} // namespace epacket

// One touch sample in the packet's own raw units.
struct TouchSample {
    uint16_t rawX = 0;
    uint16_t rawY = 0;
    bool penDown = false;
    bool sideButton = false;
};

// Coordinates above the format's range are clamped to it.
std::array<uint8_t, mpacket::kSize> encodeM(const TouchSample& s, bool lowHalfFirst);
std::array<uint8_t, epacket::kSize> encodeE(const TouchSample& s);

// Appends the packet for `kind` to `out` (5 or 10 bytes).
template <typename Out> void appendPacket(Out& out, const TouchSample& s, PacketKind kind) {
    if (kind == PacketKind::E) {
        const auto p = encodeE(s);
        out.insert(out.end(), p.begin(), p.end());
    } else {
        const auto p = encodeM(s, kind == PacketKind::MLowFirst);
        out.insert(out.end(), p.begin(), p.end());
    }
}

} // namespace kvr::emu
