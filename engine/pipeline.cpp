#include "engine/pipeline.h"

#include "engine/calibration.h"
#include "engine/decode.h"
#include "engine/packet_fields.h"
#include "engine/report_modes.h"

#include <algorithm>
#include <limits>

namespace kvr::engine {
namespace {

constexpr std::int64_t kMax12Bit = 4095;
constexpr std::uint8_t kMPacketBytes = 5;
constexpr std::uint8_t kMCopyLeadPenDown = 0xD8; // lead of an M copy of an E packet
constexpr std::uint8_t kMCopyLeadPenUp = 0x98;

std::int32_t Saturate32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// A touch has ended on this device: record it for a running touched-controller search.
void RecordTouchSearch(Rs232Device& d) {
    if (d.Extension == nullptr) {
        return;
    }
    ControlExtension& ext = *d.Extension;
    std::lock_guard guard(ext.Lock);
    if (ext.TouchSearchArmed == 1 && ext.TouchSearchFound == 0) {
        ext.TouchSearchFound = 1;
        ext.TouchSearchDevice = d.DeviceIndex;
    }
}

// Calibrate, snap, rotate, (M format 3: invert Y), map into the partition, and report.
void ReportRaw(Rs232Device& d, std::int32_t rawX, std::int32_t rawY, bool invertY, bool penDown,
               bool right) {
    const ScreenPoint cal = Do3PCalibration(d, rawX, rawY);
    Coord12 c = ExpandEdges(d, Coord12{cal.x, cal.y});
    c = Rotate(d.Rotation, c);
    if (invertY) {
        c.y = kMax12Bit - c.y;
    }
    ReportInPartition(d, c.x, c.y, penDown, right);
}

} // namespace

Coord12 ExpandEdges(const Rs232Device& d, Coord12 c) {
    if (c.x > d.ExpandRight) {
        c.x = kMax12Bit;
    }
    if (c.x < d.ExpandLeft) {
        c.x = 0;
    }
    if (c.y > d.ExpandDown) {
        c.y = kMax12Bit;
    }
    if (c.y < d.ExpandUp) {
        c.y = 0;
    }
    return c;
}

Coord12 Rotate(std::uint8_t rotation, Coord12 c) {
    switch (rotation) {
    case 1:
        return Coord12{kMax12Bit - c.y, c.x};
    case 2:
        return Coord12{kMax12Bit - c.x, kMax12Bit - c.y};
    case 3:
        return Coord12{c.y, kMax12Bit - c.x};
    default:
        return c;
    }
}

ScreenPoint MapToPartition(const DisplayPartitionEntry& e, Coord12 c) {
    // Calibrated values are 32-bit; extents 32-bit: the products fit 64 bits.
    const std::int64_t x = std::clamp<std::int64_t>(c.x, std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max());
    const std::int64_t y = std::clamp<std::int64_t>(c.y, std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max());
    return ScreenPoint{Saturate32(std::int64_t{e.extentX} * x / kMax12Bit + e.originX),
                       Saturate32(std::int64_t{e.extentY} * y / kMax12Bit + e.originY)};
}

void MReportCoord(Rs232Device& d) {
    std::uint8_t* p = d.Packet;
    if ((p[0] & kMLeadPenDown) == 0) {
        RecordTouchSearch(d);
    }
    if (d.DisableReport == 1) {
        // Reports off: a user program reads the packets as raw data, always low half first
        // and without the side button.
        p[0] = static_cast<std::uint8_t>(p[0] & ~kMLeadSideButton);
        if (p[0] & kMLeadLowFirst) {
            d.ResponseQueue.appendAll(p, kMPacketBytes);
        } else {
            const std::uint8_t copy[kMPacketBytes] = {
                static_cast<std::uint8_t>(p[0] | kMLeadLowFirst), p[2], p[1], p[4], p[3]};
            d.ResponseQueue.appendAll(copy, kMPacketBytes);
        }
        return;
    }
    const bool penDown = (p[0] & kMLeadPenDown) != 0;
    const MHalves h = MHalvesOf(p[0]);
    const std::int32_t rawX = std::clamp(MCoord14(p, h.xHigh, h.xLow), 0, kMCoordMax) >> 2;
    const std::int32_t rawY = std::clamp(MCoord14(p, h.yHigh, h.yLow), 0, kMCoordMax) >> 2;
    const bool right = d.RightStatus == 1 && (p[0] & kMLeadSideButton) != 0;
    ReportRaw(d, rawX, rawY, d.PacketFormat == kPacketFormatMInvertY, penDown, right);
}

void EReportCoord(Rs232Device& d) {
    const std::uint8_t* p = d.Packet;
    const std::uint8_t status = p[2];
    if (status & kEStatusRelease) {
        RecordTouchSearch(d);
    }
    const bool penDown = (status & kEStatusTouched) != 0;
    const std::int32_t x = std::clamp(ECoordX(p), 0, static_cast<std::int32_t>(kMax12Bit));
    const std::int32_t y = std::clamp(ECoordY(p), 0, static_cast<std::int32_t>(kMax12Bit));
    if (d.DisableReport == 1) {
        // The copy is an M packet, low half first, carrying four times the 12-bit value.
        const std::uint8_t copy[kMPacketBytes] = {
            penDown ? kMCopyLeadPenDown : kMCopyLeadPenUp,
            static_cast<std::uint8_t>((x & 0x1F) << 2), static_cast<std::uint8_t>((x >> 5) & 0x7F),
            static_cast<std::uint8_t>((y & 0x1F) << 2), static_cast<std::uint8_t>((y >> 5) & 0x7F)};
        d.ResponseQueue.appendAll(copy, kMPacketBytes);
        return;
    }
    const bool right = d.RightStatus == 1 && (status & kEStatusSideButton) != 0;
    ReportRaw(d, x, y, false, penDown, right);
}

void SetDisplayLayout(Rs232Device& d, std::uint8_t v) {
    d.DisplayArrangement = static_cast<std::uint8_t>((v >> 2) & 3);
    d.DisplayIndex = static_cast<std::uint8_t>(v & 3);
}

bool SetDisplayLayoutFromReply(Rs232Device& d, const std::uint8_t* reply, std::size_t taken) {
    constexpr std::size_t kReplyBytes = 6;
    if (reply == nullptr || taken != kReplyBytes || reply[0] != 0x01 || reply[5] != 0x0D) {
        d.DisplayArrangement = 0;
        d.DisplayIndex = 0;
        return false;
    }
    SetDisplayLayout(d, HexStringToByte(reply + 1, 2));
    return true;
}

void ArrangeDisplayPartition(ControlExtension& ext, std::uint8_t arrangement, std::uint8_t u) {
    if (u >= kDisplayPartitionCount) {
        return;
    }
    DisplayPartitionEntry& e = ext.DisplayPartition[u];
    const std::int32_t span = kPointerSpan;
    switch (arrangement) {
    case 1: // side by side
        e.originX = u * span;
        e.originY = 0;
        break;
    case 2: // stacked
        e.originX = 0;
        e.originY = u * span;
        break;
    case 3: // two by two
        e.originX = (u & 1) ? span : 0;
        e.originY = (u >= 2) ? span : 0;
        break;
    default:
        return;
    }
    e.extentX = span;
    e.extentY = span;
}

} // namespace kvr::engine
