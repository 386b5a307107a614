#include "engine/calibration.h"

#include "engine/packet_fields.h"

#include <cstdlib>
#include <limits>

namespace kvr::engine {
namespace {

constexpr std::int64_t kMax12Bit = 4095;
constexpr std::int64_t kTenBitMax = 1023;

// Three-point capture: a sample is steady while within this many raw units of the one
// before; twenty steady samples in a row make a point.
constexpr std::int64_t kSteadyRawUnits = 50;
constexpr std::uint8_t kThreePointSamples = 20;

// Multi-point capture: samples 17..46 of a touch are averaged (30 samples); the point is
// ready once the touch has lasted past sample 61.
constexpr std::uint8_t kMultiFirstSummed = 16;
constexpr std::uint8_t kMultiLastSummed = 45;
constexpr std::uint8_t kMultiSumsComplete = 46;
constexpr std::uint32_t kMultiSummedCount = 30;
constexpr std::uint8_t kMultiHeld = 60;

// The mapping works at 10-bit resolution: arithmetic shift right by 2.
constexpr std::int64_t q(std::int64_t v) {
    return v >> 2;
}

std::int32_t Saturate32(std::int64_t v) {
    if (v > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (v < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(v);
}

bool Is12Bit(std::int32_t v) {
    return static_cast<std::uint32_t>(v) <= kMax12Bit;
}

std::int64_t QuarterDeterminant(const CalibrationSet& s) {
    const std::int64_t a = q(s.CP3X), b = q(s.CP3Y);
    const std::int64_t s1 = q(s.CP1X) - a, t1 = q(s.CP1Y) - b;
    const std::int64_t s2 = q(s.CP2X) - a, t2 = q(s.CP2Y) - b;
    return t2 * s1 - s2 * t1;
}

// Truncating division; in 32 bits when both operands fit, which they always do for a usable
// set and a 12-bit raw point (it is the hot path, and 64-bit division costs several times
// more on the processors this runs on).
std::int64_t Divide(std::int64_t num, std::int64_t den) {
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min() + 1;
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    if (num >= lo && num <= hi && den >= lo && den <= hi) {
        return static_cast<std::int32_t>(num) / static_cast<std::int32_t>(den);
    }
    return num / den;
}

// The mapping itself; `s` must be usable (det != 0, values 12-bit, so nothing overflows
// 64 bits and the products stay within the 32-bit range the controller's formula assumes).
ScreenPoint Map(const CalibrationSet& s, std::int64_t rawX, std::int64_t rawY) {
    const std::int64_t a = q(s.CP3X), b = q(s.CP3Y);
    const std::int64_t dx = q(rawX) - a, dy = q(rawY) - b;
    const std::int64_t s1 = q(s.CP1X) - a, t1 = q(s.CP1Y) - b;
    const std::int64_t s2 = q(s.CP2X) - a, t2 = q(s.CP2Y) - b;
    const std::int64_t kx = kTenBitMax - 2 * q(s.BPX);
    const std::int64_t ky = kTenBitMax - 2 * q(s.BPY);
    const std::int64_t det = t2 * s1 - s2 * t1;
    // Built-in division truncates toward zero, as the formula wants.
    const std::int64_t xq = Divide((t2 * dx - s2 * dy) * kx, det);
    const std::int64_t yq = Divide((s1 * dy - t1 * dx) * ky, det);
    return ScreenPoint{Saturate32((xq + q(s.BPX)) * 4), Saturate32((yq + q(s.BPY)) * 4)};
}

bool PenDownM(const Rs232Device& d) {
    return (d.Packet[0] & kMLeadPenDown) != 0;
}
bool PenDownE(const Rs232Device& d) {
    return (d.Packet[2] & kEStatusTouched) != 0;
}

void ResetCapturePoint(Rs232Device& d) {
    d.RawPoint[d.CaptureIndex] = RawPointEntry{};
    d.SampleCount = 0;
}

void ThreePointSample(Rs232Device& d, bool penDown, ScreenPoint sample) {
    if (!penDown) {
        if (d.SampleCount >= kThreePointSamples) {
            d.CaptureActive = 0;
            d.PenLifted = 1;
        } else {
            ResetCapturePoint(d);
        }
        return;
    }
    if (d.SampleCount >= kThreePointSamples) {
        d.PointReady = 1;
        return;
    }
    d.CurPoint = sample;
    RawPointEntry& raw = d.RawPoint[d.CaptureIndex];
    const auto far = [](std::int64_t u, std::int64_t v) {
        return std::llabs(u - v) >= kSteadyRawUnits;
    };
    if (far(d.CurPoint.x, d.OldPoint.x) || far(d.CurPoint.y, d.OldPoint.y)) {
        ResetCapturePoint(d);
    } else if (d.SampleCount == 0) {
        raw.x = static_cast<std::uint32_t>(d.OldPoint.x);
        raw.y = static_cast<std::uint32_t>(d.OldPoint.y);
        ++d.SampleCount;
    } else if (far(raw.x, d.OldPoint.x) || far(raw.y, d.OldPoint.y)) {
        ResetCapturePoint(d);
    } else {
        // Each steady sample moves the point halfway towards the sample before it.
        raw.x = (raw.x + static_cast<std::uint32_t>(d.OldPoint.x)) >> 1;
        raw.y = (raw.y + static_cast<std::uint32_t>(d.OldPoint.y)) >> 1;
        ++d.SampleCount;
    }
    d.OldPoint = d.CurPoint;
}

void MultiPointSample(Rs232Device& d, bool penDown, std::uint32_t x, std::uint32_t y) {
    if (d.SampleCount > kMultiHeld) {
        d.PointReady = 1;
        if (!penDown) {
            d.CaptureActive = 0;
            d.SampleCount = 0;
            d.PenLifted = 1;
        }
        return;
    }
    if (penDown) {
        RawPointEntry& raw = d.RawPoint[d.CaptureIndex];
        if (d.SampleCount >= kMultiFirstSummed && d.SampleCount <= kMultiLastSummed) {
            raw.x += x;
            raw.y += y;
        }
        ++d.SampleCount;
        if (d.SampleCount == kMultiSumsComplete) {
            raw.x /= kMultiSummedCount;
            raw.y /= kMultiSummedCount;
        }
        return;
    }
    if (d.SampleCount < kMultiHeld) {
        ResetCapturePoint(d); // the touch was too short: wait for a new one
    }
}

// Signed reading of one M coordinate for the multi-point capture: the high half's bit 6 is a
// sign bit (cleared in Packet too); value = (low >> 3) + high * 16, less 1024 when negative;
// the sample is value * 2 + 2048 (0..4094).
std::uint32_t MSignedSample(std::uint8_t& high, std::uint8_t low) {
    const bool negative = (high & kMSignBit) != 0;
    if (negative) {
        high = static_cast<std::uint8_t>(high & ~kMSignBit);
    }
    std::int32_t value = (low >> 3) + high * 16;
    if (negative) {
        value -= 1024;
    }
    return static_cast<std::uint32_t>(value * 2 + 2048);
}

bool CaptureIndexValid(const Rs232Device& d) {
    return d.CaptureIndex < kRawPointCount;
}

bool IsMultiPointKind(std::uint8_t kind) {
    return kind == 3 || kind == 5 || kind == 9;
}

} // namespace

CalibrationSet CalibrationOf(const Rs232Device& d) {
    CalibrationSet s;
    s.CP1X = d.CP1X;
    s.CP1Y = d.CP1Y;
    s.CP2X = d.CP2X;
    s.CP2Y = d.CP2Y;
    s.CP3X = d.CP3X;
    s.CP3Y = d.CP3Y;
    s.BPX = d.BPX;
    s.BPY = d.BPY;
    return s;
}

void StoreCalibration(Rs232Device& d, const CalibrationSet& s) {
    d.CP1X = s.CP1X;
    d.CP1Y = s.CP1Y;
    d.CP2X = s.CP2X;
    d.CP2Y = s.CP2Y;
    d.CP3X = s.CP3X;
    d.CP3Y = s.CP3Y;
    d.BPX = s.BPX;
    d.BPY = s.BPY;
}

bool CalibrationUsable(const CalibrationSet& s) {
    for (std::int32_t v : {s.CP1X, s.CP1Y, s.CP2X, s.CP2Y, s.CP3X, s.CP3Y, s.BPX, s.BPY}) {
        if (!Is12Bit(v)) {
            return false;
        }
    }
    return QuarterDeterminant(s) != 0;
}

bool FullDeterminantIsZero(const CalibrationSet& s) {
    const std::int64_t d = (std::int64_t{s.CP1X} - s.CP3X) * (std::int64_t{s.CP2Y} - s.CP3Y) -
                           (std::int64_t{s.CP2X} - s.CP3X) * (std::int64_t{s.CP1Y} - s.CP3Y);
    return d == 0;
}

ScreenPoint Do3PCalibration(const CalibrationSet& set, std::int32_t rawX, std::int32_t rawY) {
    // A set that would divide by zero (or is not made of 12-bit positions) is replaced by the
    // defaults, the same fall-back the connect-time load uses.
    if (!CalibrationUsable(set)) {
        return Map(CalibrationSet{}, rawX, rawY);
    }
    return Map(set, rawX, rawY);
}

ScreenPoint Do3PCalibration(const Rs232Device& device, std::int32_t rawX, std::int32_t rawY) {
    return Do3PCalibration(CalibrationOf(device), rawX, rawY);
}

void MGetCaliRawData(Rs232Device& d) {
    if (!CaptureIndexValid(d)) {
        return;
    }
    const bool penDown = PenDownM(d);
    const MHalves h = MHalvesOf(d.Packet[0]);
    if (d.CaptureKind == kCaptureKindThreePoint) {
        std::int32_t x = MCoord14(d.Packet, h.xHigh, h.xLow) >> 2;
        std::int32_t y = MCoord14(d.Packet, h.yHigh, h.yLow) >> 2;
        if (d.PacketFormat == kPacketFormatMInvertY) {
            y = 4095 - y;
        }
        ThreePointSample(d, penDown, ScreenPoint{x, y});
    } else if (IsMultiPointKind(d.CaptureKind)) {
        std::uint32_t x = 0;
        std::uint32_t y = 0;
        if (penDown && d.SampleCount >= kMultiFirstSummed && d.SampleCount <= kMultiLastSummed) {
            x = MSignedSample(d.Packet[h.xHigh], d.Packet[h.xLow]);
            y = MSignedSample(d.Packet[h.yHigh], d.Packet[h.yLow]);
        }
        MultiPointSample(d, penDown, x, y);
    }
}

void EGetCaliRawData(Rs232Device& d) {
    if (!CaptureIndexValid(d)) {
        return;
    }
    const bool penDown = PenDownE(d);
    const std::int32_t x = ECoordX(d.Packet);
    const std::int32_t y = ECoordY(d.Packet);
    if (d.CaptureKind == kCaptureKindThreePoint) {
        ThreePointSample(d, penDown, ScreenPoint{x, y});
    } else if (IsMultiPointKind(d.CaptureKind)) {
        MultiPointSample(d, penDown, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    }
}

bool StartThreePointCapture(Rs232Device& d, std::uint8_t k) {
    if (k >= 3) {
        return false;
    }
    d.CaptureKind = kCaptureKindThreePoint;
    d.CaptureIndex = k;
    d.CaptureActive = 1;
    d.PointReady = 0;
    d.RawPoint[k] = RawPointEntry{};
    d.SampleCount = 0;
    d.PenLifted = 0;
    return true;
}

bool StartMultiPointCapture(Rs232Device& d, std::uint8_t n, std::uint8_t k) {
    if (!IsMultiPointKind(n) || k >= n) {
        return false;
    }
    d.CaptureKind = n;
    d.CaptureIndex = k;
    d.PointReady = 0;
    d.PenLifted = 0;
    d.CaptureActive = 1;
    d.RawPoint[k] = RawPointEntry{};
    d.SampleCount = 0;
    return true;
}

void StopMultiPointCapture(Rs232Device& d) {
    d.CaptureKind = 0;
    d.CaptureIndex = 0;
    d.PointReady = 0;
    d.PenLifted = 0;
    d.CaptureActive = 0;
    d.SampleCount = 0;
}

void StopThreePointCapture(Rs232Device& d) {
    d.CaptureKind = 0;
    d.CaptureIndex = 0;
    d.CaptureActive = 0;
    d.PointReady = 0;
    d.SampleCount = 0;
    d.RawPoint[0] = RawPointEntry{};
}

bool ReadyCapturedPoint(const Rs232Device& d, RawPointEntry& out) {
    if (d.PointReady != 1 || !CaptureIndexValid(d)) {
        out = RawPointEntry{};
        return false;
    }
    out = d.RawPoint[d.CaptureIndex];
    return true;
}

} // namespace kvr::engine
