#include "platform/sound/tone.h"

#include <algorithm>
#include <cmath>

namespace kvr::sound::detail {
namespace {
constexpr double kAmplitude = 0.5 * 32767.0; // half scale: loud enough, never clipping
constexpr uint32_t kRampMs = 2;              // fade in and out, so the tone does not click
} // namespace

ToneGenerator::ToneGenerator(uint32_t freqHz, uint32_t durationMs, uint32_t rateHz)
    : stepRad_(2.0 * M_PI * freqHz / rateHz),
      total_(static_cast<uint64_t>(durationMs) * rateHz / 1000),
      rampFrames_(std::min<uint64_t>(static_cast<uint64_t>(kRampMs) * rateHz / 1000, total_ / 2)) {}

std::size_t ToneGenerator::fill(int16_t* out, std::size_t max) {
    std::size_t n = 0;
    for (; n < max && next_ < total_; ++n, ++next_) {
        double gain = 1.0;
        const uint64_t fromEnd = total_ - 1 - next_;
        if (rampFrames_ > 0 && next_ < rampFrames_)
            gain = double(next_) / rampFrames_;
        else if (rampFrames_ > 0 && fromEnd < rampFrames_)
            gain = double(fromEnd) / rampFrames_;
        // The phase from the frame index (not accumulated), so long tones do not drift.
        const double phase = std::fmod(stepRad_ * double(next_), 2.0 * M_PI);
        out[n] = static_cast<int16_t>(std::lround(kAmplitude * gain * std::sin(phase)));
    }
    return n;
}

} // namespace kvr::sound::detail
