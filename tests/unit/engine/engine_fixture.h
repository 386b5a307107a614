#pragma once
// Test doubles and packet builders for the engine tests: a pointer port and an event
// signaller that record, in one shared log, everything the engine hands them.

#include "engine/engine.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kvr::engine::test {

struct Call {
    enum Kind { Deliver, Event } kind;
    std::uint16_t buttonFlags = 0; // Deliver
    std::int32_t x = 0, y = 0;     // Deliver
    EventRef event = kNoEvent;     // Event
};

class Recorder : public PointerPort, public EventSignaller {
public:
    bool isConnected = true;
    std::vector<Call> calls;

    bool connected() const override { return isConnected; }
    void deliver(const MouseInputData& r) override {
        EXPECT_EQ(r.unitId, 0);
        EXPECT_EQ(r.flags, kMouseMoveAbsolute);
        EXPECT_EQ(r.buttonData, 0);
        calls.push_back(Call{Call::Deliver, r.buttonFlags, r.lastX, r.lastY, kNoEvent});
    }
    void setEvent(EventRef e) override { calls.push_back(Call{Call::Event, 0, 0, 0, e}); }

    std::vector<std::uint16_t> flags() const {
        std::vector<std::uint16_t> out;
        for (const Call& c : calls) {
            if (c.kind == Call::Deliver) out.push_back(c.buttonFlags);
        }
        return out;
    }
    std::vector<Call> deliveries() const {
        std::vector<Call> out;
        for (const Call& c : calls) {
            if (c.kind == Call::Deliver) out.push_back(c);
        }
        return out;
    }
    int eventCount(EventRef e) const {
        int n = 0;
        for (const Call& c : calls) {
            n += (c.kind == Call::Event && c.event == e) ? 1 : 0;
        }
        return n;
    }
    // The log as text: "D<flags>" per delivery, "E<ref>" per event, space separated.
    std::string trace() const {
        std::string s;
        for (const Call& c : calls) {
            if (!s.empty()) s += ' ';
            s += (c.kind == Call::Deliver ? "D" : "E") +
                 std::to_string(c.kind == Call::Deliver ? c.buttonFlags : c.event);
        }
        return s;
    }
};

// A driver-wide state with the recorder plugged in; device 0 is the one under test.
struct EngineFixture : ::testing::Test {
    ControlExtension ext;
    Recorder rec;
    Rs232Device& dev = ext.Devices[0];

    EngineFixture() {
        ext.Pointer.Port = &rec;
        ext.Signaller = &rec;
    }

    void feed(const std::vector<std::uint8_t>& bytes) {
        DecodeChunk(dev, bytes.data(), bytes.size());
    }
    void feed(Rs232Device& d, const std::vector<std::uint8_t>& bytes) {
        DecodeChunk(d, bytes.data(), bytes.size());
    }
    std::vector<std::uint8_t> queued(Rs232Device& d) {
        std::vector<std::uint8_t> out(kResponseQueueCapacity);
        out.resize(ReadQueueData(d, out.data(), out.size()));
        return out;
    }
    std::vector<std::uint8_t> queued() { return queued(dev); }
};

// M packet with 14-bit coordinates in the given byte order.
inline std::vector<std::uint8_t> MPacket(int x14, int y14, bool pen, bool lowFirst = true,
                                         bool side = false) {
    const std::uint8_t lead =
        static_cast<std::uint8_t>(0x80 | (pen ? 0x40 : 0) | (lowFirst ? 0x10 : 0) | (side ? 1 : 0));
    const std::uint8_t xh = static_cast<std::uint8_t>((x14 >> 7) & 0x7F);
    const std::uint8_t xl = static_cast<std::uint8_t>(x14 & 0x7F);
    const std::uint8_t yh = static_cast<std::uint8_t>((y14 >> 7) & 0x7F);
    const std::uint8_t yl = static_cast<std::uint8_t>(y14 & 0x7F);
    if (lowFirst) return {lead, xl, xh, yl, yh};
    return {lead, xh, xl, yh, yl};
}
// M packet for a raw 12-bit position (the 14-bit value is four times it).
inline std::vector<std::uint8_t> MRaw(int x12, int y12, bool pen, bool side = false) {
    return MPacket(x12 * 4, y12 * 4, pen, true, side);
}

inline constexpr std::uint8_t kEPen = 0x01, kERelease = 0x04, kESide = 0x08;

inline std::vector<std::uint8_t> EPacket(int x, int y, std::uint8_t status,
                                         std::uint8_t check = 0) {
    return {0x55,
            0x54,
            static_cast<std::uint8_t>(0x80 | status),
            static_cast<std::uint8_t>(x & 0xFF),
            static_cast<std::uint8_t>((x >> 8) & 0x0F),
            static_cast<std::uint8_t>(y & 0xFF),
            static_cast<std::uint8_t>((y >> 8) & 0x0F),
            0x00,
            0x00,
            check};
}

inline std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::vector<std::uint8_t> Bytes(const std::string& s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

} // namespace kvr::engine::test
