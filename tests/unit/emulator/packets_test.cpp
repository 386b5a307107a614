// Touch packets against bytes worked out by hand from the packet layouts.
#include "emulator/packets.h"

#include <gtest/gtest.h>
#include <vector>

namespace kvr::emu {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N> Bytes vec(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

struct MCase {
    const char* name;
    TouchSample sample;
    bool lowFirst;
    Bytes expected;
};

// X = 1000 = 7 * 128 + 104 (halves 07, 68); Y = 2000 = 15 * 128 + 80 (halves 0F, 50).
// Lead: 0x80 mark, 0x40 pen down, 0x10 low half first, 0x01 side button.
const MCase kMCases[] = {
    {"down_low_first", {1000, 2000, true, false}, true, {0xD0, 0x68, 0x07, 0x50, 0x0F}},
    {"down_high_first", {1000, 2000, true, false}, false, {0xC0, 0x07, 0x68, 0x0F, 0x50}},
    {"up_low_first", {1000, 2000, false, false}, true, {0x90, 0x68, 0x07, 0x50, 0x0F}},
    {"up_high_first", {1000, 2000, false, false}, false, {0x80, 0x07, 0x68, 0x0F, 0x50}},
    {"button_down", {1000, 2000, true, true}, true, {0xD1, 0x68, 0x07, 0x50, 0x0F}},
    {"button_up", {1000, 2000, false, true}, false, {0x81, 0x07, 0x68, 0x0F, 0x50}},
    // The decoder's own example: C0 10 20 30 40 is X = 0x10*128+0x20, Y = 0x30*128+0x40.
    {"decoder_example",
     {0x10 * 128 + 0x20, 0x30 * 128 + 0x40, true, false},
     false,
     {0xC0, 0x10, 0x20, 0x30, 0x40}},
    {"zero", {0, 0, true, false}, true, {0xD0, 0x00, 0x00, 0x00, 0x00}},
    {"maximum", {16383, 16383, true, false}, true, {0xD0, 0x7F, 0x7F, 0x7F, 0x7F}},
    {"one_past_maximum_clamps", {16384, 65535, true, false}, false, {0xC0, 0x7F, 0x7F, 0x7F, 0x7F}},
};

TEST(MPacket, MatchesTheLayout) {
    for (const auto& c : kMCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vec(encodeM(c.sample, c.lowFirst)), c.expected);
    }
}

struct ECase {
    const char* name;
    TouchSample sample;
    Bytes expected;
};

// Status: 0x80 mark, 0x01 touched, 0x04 release flag, 0x08 side button.
// Checksum = 0xAA + bytes 0..7 (mod 256), e.g. for the first case:
// AA+55+54+81+E8+03+D0+07+00 = 0x496 -> 0x96.
const ECase kECases[] = {
    {"down",
     {1000, 2000, true, false},
     {0x55, 0x54, 0x81, 0xE8, 0x03, 0xD0, 0x07, 0x00, 0x00, 0x96}},
    // AA+55+54+84+E8+03+D0+07 = 0x499 -> 0x99
    {"up_sets_release",
     {1000, 2000, false, false},
     {0x55, 0x54, 0x84, 0xE8, 0x03, 0xD0, 0x07, 0x00, 0x00, 0x99}},
    // AA+55+54+89+E8+03+D0+07 = 0x49E -> 0x9E
    {"button_down",
     {1000, 2000, true, true},
     {0x55, 0x54, 0x89, 0xE8, 0x03, 0xD0, 0x07, 0x00, 0x00, 0x9E}},
    // AA+55+54+81 = 0x1D4 -> 0xD4
    {"zero", {0, 0, true, false}, {0x55, 0x54, 0x81, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD4}},
    // AA+55+54+81+FF+0F+FF+0F = 0x3F0 -> 0xF0
    {"maximum",
     {4095, 4095, true, false},
     {0x55, 0x54, 0x81, 0xFF, 0x0F, 0xFF, 0x0F, 0x00, 0x00, 0xF0}},
    {"one_past_maximum_clamps",
     {4096, 16383, true, false},
     {0x55, 0x54, 0x81, 0xFF, 0x0F, 0xFF, 0x0F, 0x00, 0x00, 0xF0}},
};

TEST(EPacket, MatchesTheLayout) {
    for (const auto& c : kECases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vec(encodeE(c.sample)), c.expected);
    }
}

TEST(Packets, AppendPicksTheFormat) {
    Bytes out;
    const TouchSample s{1000, 2000, true, false};
    appendPacket(out, s, PacketKind::MHighFirst);
    appendPacket(out, s, PacketKind::E);
    appendPacket(out, s, PacketKind::MLowFirst);
    ASSERT_EQ(out.size(), 20u);
    EXPECT_EQ(out[0], 0xC0);
    EXPECT_EQ(out[5], 0x55);
    EXPECT_EQ(out[15], 0xD0);
}

} // namespace
} // namespace kvr::emu
