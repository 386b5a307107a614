#include "calibration/capture.h"

#include <utility>

namespace kvr::calibration {

Capture::Capture(std::size_t targetCount, CaptureCalls calls)
    : targetCount_(targetCount), calls_(std::move(calls)) {
    points_.reserve(targetCount);
}

void Capture::restart() {
    current_ = 0;
    points_.clear();
    clearPress();
    if (targetCount_ > 0) calls_.arm(0);
}

void Capture::clearPress() {
    pressTicks_ = 0;
    beeped_ = false;
}

TickResult Capture::tick() {
    TickResult result;
    if (finished()) return result;
    result.target = current_;

    RawPoint point;
    const std::int32_t answer = calls_.captured(point);
    if (answer == 0) {
        blinkPhase_ = !blinkPhase_;
        result.colour = blinkPhase_ ? TargetColour::Red : TargetColour::White;
        return result;
    }
    if (answer != 1) return result; // no answer the capture knows: wait for the next tick

    result.colour = TargetColour::Yellow;
    if (!beeped_) {
        result.pressBeep = true;
        beeped_ = true;
    }
    if (calls_.settle) calls_.settle();
    if (++pressTicks_ > kPressTicks) {
        // Held too long: capture this target afresh; the next press tick beeps again.
        calls_.arm(static_cast<std::uint8_t>(current_));
        clearPress();
    }

    if (calls_.penUp() != 1) return result;
    points_.push_back(point);
    result.pointBeep = true;
    ++current_;
    clearPress();
    if (finished()) {
        result.finished = true;
    } else {
        calls_.arm(static_cast<std::uint8_t>(current_));
    }
    return result;
}

} // namespace kvr::calibration
