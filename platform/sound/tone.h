#pragma once
// Sine tone samples, made in chunks so that a long tone needs no long buffer (internal).

#include <cstddef>
#include <cstdint>

namespace kvr::sound::detail {

class ToneGenerator {
public:
    ToneGenerator(uint32_t freqHz, uint32_t durationMs, uint32_t rateHz);
    [[nodiscard]] uint64_t totalFrames() const { return total_; }
    [[nodiscard]] bool done() const { return next_ >= total_; }
    // Fills up to `max` mono 16-bit frames; returns how many.
    std::size_t fill(int16_t* out, std::size_t max);

private:
    double stepRad_;
    uint64_t total_;
    uint64_t next_ = 0;
    uint64_t rampFrames_;
};

} // namespace kvr::sound::detail
