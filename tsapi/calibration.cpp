// Calibration and linearity exports.
//
// Three-point calibration lives in the driver: the library arms its capture of each target,
// hands the captured raw points back to the program, and passes the finished block (or a base
// point) to the driver, which keeps them. Linearity lives in the controller: the library arms
// the driver's multi-point capture, collects each captured point into a nine-slot table of its
// own, and writes the table into the controller's parameter words 10..21.
//
// The linearity table, around the screen (slot 0 the centre, even slots the corners):
//
//        2 ----- 3 ----- 4
//        |               |
//        1       0       5
//        |               |
//        8 ----- 7 ----- 6
//
// A nine-point capture fills slot p with target p; a five-point capture fills slot 2p with
// target p and derives the odd slots as midpoints of their neighbours; a three-point capture
// fills slots 2, 4 and 6.

#include "tsapi/internal.h"
#include "tsapi/tsapi.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kvr::tsapi {
namespace {

// The recorded count after SetCalibrationPoint: the driver's three-point marker.
constexpr std::uint8_t kThreePointMarker = 0x3A;
constexpr std::uint8_t kNinePoints = 9;
constexpr std::uint8_t kFivePoints = 5;
constexpr std::uint8_t kThreePoints = 3;

constexpr std::size_t kLinearitySlots = 9;
// Slot s is the controller's words 0x10 + 2s (x) and 0x11 + 2s (y).
constexpr std::uint8_t kLinearityFirstAddress = 0x10;

constexpr std::uint32_t kCapturedPointReplyBytes = 9; // ready flag, raw x, raw y
constexpr std::uint32_t kPointBytes = 8;              // x, y
constexpr std::uint32_t kBlockBytes = 24;             // three points
constexpr std::int32_t kRawSpan = 4096;               // the driver's raw coordinate space

constexpr int kStoreAttempts = 4;
constexpr std::chrono::milliseconds kAfterStoreWait{100};

struct LinearityPoint {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
};

// One calibration per process at a time; unguarded like the rest of the library's state.
struct CalibrationState {
    std::uint8_t pointCount = 0;
    std::uint8_t pointIndex = 0;
    std::array<LinearityPoint, kLinearitySlots> table{};
};

CalibrationState& state() noexcept {
    static CalibrationState s;
    return s;
}

LinearityPoint midpoint(const LinearityPoint& a, const LinearityPoint& b) {
    return {static_cast<std::uint16_t>((a.x + b.x) / 2),
            static_cast<std::uint16_t>((a.y + b.y) / 2)};
}

// Files a captured point under the recorded count and index. False when the recorded count is
// no linearity capture, or the index would fall outside the table (a point the driver captured
// for another program's arming, say): such a point is not stored.
bool storeLinearityPoint(std::int32_t rawX, std::int32_t rawY) {
    CalibrationState& s = state();
    // Only the low 16 bits of each coordinate fit the controller's words.
    const LinearityPoint point{static_cast<std::uint16_t>(rawX), static_cast<std::uint16_t>(rawY)};
    const unsigned p = s.pointIndex;
    auto& t = s.table;
    switch (s.pointCount) {
    case kNinePoints:
        if (p >= kLinearitySlots) return false;
        t[p] = point;
        return true;
    case kFivePoints:
        if (2 * p >= kLinearitySlots) return false;
        t[2 * p] = point;
        // Targets come in the order 0..4, so both neighbours of an odd slot are there by now.
        if (p >= 2) t[2 * p - 1] = midpoint(t[2 * p - 2], t[2 * p]);
        if (p == 4) t[1] = midpoint(t[2], t[8]);
        return true;
    case kThreePoints:
        if (2 * p + 2 >= kLinearitySlots) return false;
        t[2 * p + 2] = point;
        return true;
    default:
        return false;
    }
}

void zeroPoint(std::int32_t* point) {
    if (point) point[0] = point[1] = 0;
}

std::int32_t signedDword(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int32_t>(dwordAt(bytes, at));
}

} // namespace
} // namespace kvr::tsapi

using namespace kvr::tsapi;

extern "C" {

int32_t SetCalPoint(int32_t handle, uint8_t pointIndex, int32_t /*unused*/, uint8_t pointCount) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        state().pointCount = pointCount;
        state().pointIndex = pointIndex;
        // The driver captures when the count is 3, 5 or 9 and the index below it, and stops
        // capturing for any other pair.
        const std::uint8_t request[] = {pointCount, pointIndex};
        return controllerRequest(*controller, IOCTL_RS232_SET_CAL_POINT, request, nullptr, 0,
                                 nullptr)
                   ? 1
                   : 0;
    });
}

int32_t SetLinearityPoint(int32_t handle, uint8_t pointIndex, int32_t unused, uint8_t pointCount) {
    if (pointCount != kFivePoints && pointCount != kNinePoints) return 0;
    return SetCalPoint(handle, pointIndex, unused, pointCount);
}

int32_t CalCurrentPointReady(int32_t handle, int32_t* point) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        const auto reply =
            replyRequest(*controller, IOCTL_RS232_CAL_POINT_READY, {}, kCapturedPointReplyBytes);
        if (reply.size() != kCapturedPointReplyBytes || reply[0] != 1) {
            zeroPoint(point);
            return 0;
        }
        if (!point) return 1;
        point[0] = signedDword(reply, 1);
        point[1] = signedDword(reply, 5);
        return storeLinearityPoint(point[0], point[1]) ? 1 : 0;
    });
}

int32_t GetLinearityData(int32_t handle, int32_t* point) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        // A point counts once the pen has left the target, so the next target's touch cannot
        // start while this one is still held.
        if (CalCurrentPointReady(handle, point) == 1 && IsPenUp(handle) == 1) return 1;
        zeroPoint(point);
        return 0;
    });
}

int32_t StoreCalibrationData(int32_t handle) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        const ExchangeRules rules{kStoreAttempts, ReplyTest::Acknowledgement, kLargeReplyBuffer,
                                  true};
        sendPreamble(*controller);
        const auto table = state().table; // as it stands now, unfilled slots included
        for (std::size_t slot = 0; slot < kLinearitySlots; ++slot) {
            const std::uint16_t values[2] = {table[slot].x, table[slot].y};
            for (unsigned axis = 0; axis < 2; ++axis) {
                const unsigned address = kLinearityFirstAddress + 2 * slot + axis;
                char text[16];
                std::snprintf(text, sizeof text, "SP%02X%04X", address, values[axis]);
                // A word that fails ends the store; the words before it stay written, and the
                // next successful store replaces the whole table.
                if (!exchange(*controller, commandFrame(text), rules).passed) return 0;
            }
        }
        if (!exchange(*controller, commandFrame("PL"), rules).passed) return 0;
        sleepFor(kAfterStoreWait);
        return 1;
    });
}

int32_t SetCalibrationPoint(int32_t handle, uint8_t pointIndex) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        state().pointIndex = pointIndex;
        state().pointCount = kThreePointMarker;
        const std::uint8_t request[] = {pointIndex};
        return acknowledgedRequest(*controller, IOCTL_RS232_SET_3P_CAL_POINT, request) ? 1 : 0;
    });
}

int32_t GetCalibrationData(int32_t handle, int32_t* point) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller || !point) return 0;
        const auto reply = replyRequest(*controller, IOCTL_RS232_GET_3P_CAL_DATA, {}, kPointBytes);
        if (reply.size() != kPointBytes) {
            zeroPoint(point);
            return 0;
        }
        point[0] = signedDword(reply, 0);
        point[1] = signedDword(reply, 4);
        return 1;
    });
}

int32_t SaveCalibrationData(int32_t handle, const int32_t* block, uint8_t length) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller || !block || length < kBlockBytes) return 0;
        std::vector<std::uint8_t> request;
        for (int i = 0; i < 6; ++i)
            appendDword(request, static_cast<std::uint32_t>(block[i]));
        return acknowledgedRequest(*controller, IOCTL_RS232_SAVE_CAL_DATA, request) ? 1 : 0;
    });
}

int32_t SetBasePoint(int32_t handle, const int32_t* point, uint8_t length) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller || !point || length < kPointBytes) return 0;
        const std::int32_t x = point[0];
        const std::int32_t y = point[1];
        std::vector<std::uint8_t> request;
        appendDword(request, static_cast<std::uint32_t>(x));
        appendDword(request, static_cast<std::uint32_t>(y));
        if (!acknowledgedRequest(*controller, IOCTL_RS232_SET_BASE_POINT, request)) return 0;
        // The three targets follow from the base point: its mirror images at the far edges and
        // the point itself. Any int32 argument is accepted, so mirror with 32-bit wrap instead
        // of overflowing.
        const auto mirror = [](std::int32_t v) {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(kRawSpan) -
                                             static_cast<std::uint32_t>(v));
        };
        const std::int32_t block[6] = {mirror(x), y, x, mirror(y), x, y};
        SaveCalibrationData(handle, block, kBlockBytes); // the base point itself is stored
        return 1;
    });
}

int32_t GetBasePoint(int32_t handle, int32_t* point, uint8_t length) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller || !point || length < kPointBytes) return 0;
        const auto reply = replyRequest(*controller, IOCTL_RS232_GET_BASE_POINT, {}, kPointBytes);
        if (reply.size() != kPointBytes) return 0;
        point[0] = signedDword(reply, 0);
        point[1] = signedDword(reply, 4);
        return 1;
    });
}

} // extern "C"
