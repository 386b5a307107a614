// The emulator's streams read back by the touch engine's own decoders: every built-in
// profile that identifies as a controller of the family, fed in ragged chunks.
//
// The device has reports switched off, so the engine puts every decoded packet into its
// response queue as a low-half-first M packet (side button bit cleared; E coordinates four
// times over, as 14-bit values). That copy carries exactly what the decoder understood.
#include "emulator/controller.h"
#include "engine/engine.h"

#include <gtest/gtest.h>
#include <random>

namespace kvr::emu {
namespace {

using Bytes = std::vector<uint8_t>;

struct Counter : engine::EventSignaller {
    int sets = 0;
    void setEvent(engine::EventRef) override { ++sets; }
};

struct Decoded {
    uint16_t x, y;
    bool down;
    bool operator==(const Decoded&) const = default;
};

class EngineReadsEmulatorStreams : public ::testing::TestWithParam<ControllerProfile> {};

TEST_P(EngineReadsEmulatorStreams, CoordinatesPenStateAndRepliesSurviveDecoding) {
    const ControllerProfile& p = GetParam();
    Controller c(p);
    std::string error;
    ASSERT_TRUE(c.enqueueScenario("tap 10% 20% 2\n"
                                  "button down\n"
                                  "drag 0 0 50% 100% 3\n"
                                  "button up\n"
                                  "lift\n"
                                  "restart\n"
                                  "touch 100% 0\n",
                                  SimTime(0), &error))
        << error;
    Bytes stream;
    while (auto due = c.nextDue()) {
        const Emission e = c.poll(*due);
        stream.insert(stream.end(), e.bytes.begin(), e.bytes.end());
    }

    engine::ControlExtension ext;
    Counter signaller;
    ext.Signaller = &signaller;
    engine::Rs232Device& dev = ext.Devices[0];
    dev.ReinitEvent = 1;
    dev.DisableReport = 1;
    // The packet format the driver picks from the identification's last character.
    dev.PacketFormat = static_cast<uint8_t>(p.identification().at(9) - '0');

    std::mt19937 rng(7);
    for (size_t at = 0; at < stream.size();) {
        const size_t n =
            std::min<size_t>(std::uniform_int_distribution<size_t>(1, 7)(rng), stream.size() - at);
        engine::DecodeChunk(dev, stream.data() + at, n);
        at += n;
    }
    Bytes queue(engine::QueueDataLength(dev));
    queue.resize(engine::ReadQueueData(dev, queue.data(), queue.size()));

    std::vector<Decoded> packets;
    Bytes replies;
    size_t repliesAfterPackets = 0;
    for (size_t i = 0; i < queue.size();) {
        if (queue[i] & 0x80) {
            ASSERT_LE(i + 5, queue.size());
            ASSERT_TRUE(queue[i] & 0x10) << "the engine's copy is low half first";
            const int scale = p.packets == PacketKind::E ? 4 : 1;
            packets.push_back({static_cast<uint16_t>((queue[i + 2] * 128 + queue[i + 1]) / scale),
                               static_cast<uint16_t>((queue[i + 4] * 128 + queue[i + 3]) / scale),
                               static_cast<bool>(queue[i] & 0x40)});
            i += 5;
        } else {
            if (replies.empty()) repliesAfterPackets = packets.size();
            replies.push_back(queue[i++]);
        }
    }
    const uint16_t max = p.maxRaw();
    const auto pct = [max](uint32_t v) { return static_cast<uint16_t>(v * max / 100); };
    const std::vector<Decoded> want = {
        {pct(10), pct(20), true},
        {pct(10), pct(20), true},
        {pct(10), pct(20), false},
        {0, 0, true},
        {static_cast<uint16_t>(pct(50) / 2), static_cast<uint16_t>(max / 2), true},
        {pct(50), max, true},
        {pct(50), max, false},
        {max, 0, true},
    };
    EXPECT_EQ(packets, want);
    EXPECT_EQ(replies, (Bytes{0x01, 'i', 'T', 0x0D}));
    EXPECT_EQ(repliesAfterPackets, 7u)
        << "the announcement sits between the lift and the next touch";
    // Only the M decoder watches for the announcement.
    EXPECT_EQ(signaller.sets, p.packets == PacketKind::E ? 0 : 1);
}

std::vector<ControllerProfile> familyProfiles() {
    std::vector<ControllerProfile> out;
    for (const auto& p : builtinProfiles())
        if (!p.mute && p.identification().size() == 10 && p.vendorTag == "Lumarcon")
            out.push_back(p);
    return out;
}

INSTANTIATE_TEST_SUITE_P(Builtin, EngineReadsEmulatorStreams, ::testing::ValuesIn(familyProfiles()),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (auto& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

} // namespace
} // namespace kvr::emu
