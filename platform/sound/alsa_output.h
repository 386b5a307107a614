#pragma once
// One ALSA playback stream on the "default" device, 16-bit interleaved (internal).

#include <alsa/asoundlib.h>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kvr::sound::detail {

class AlsaOutput {
public:
    // Nothing (and a debug line) when the machine has no usable sound device.
    static std::unique_ptr<AlsaOutput> open(uint32_t rateHz, uint32_t channels);
    ~AlsaOutput();
    AlsaOutput(const AlsaOutput&) = delete;
    AlsaOutput& operator=(const AlsaOutput&) = delete;

    // Writes whole frames (blocking while the device's buffer is full). False when the
    // device failed beyond recovery.
    bool write(const int16_t* frames, std::size_t count);
    void drain(); // waits until everything written has sounded
    void drop();  // stops at once

private:
    AlsaOutput(snd_pcm_t* pcm, uint32_t channels) : pcm_(pcm), channels_(channels) {}
    snd_pcm_t* pcm_;
    uint32_t channels_;
};

} // namespace kvr::sound::detail
