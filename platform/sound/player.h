#pragma once
// The process's background sound: one worker thread plays one sound at a time, and a new
// sound stops the one playing (as PlaySound does) (internal).

#include <cstdint>
#include <memory>
#include <sndfile.h>

namespace kvr::sound::detail {

struct SndFileCloser {
    void operator()(SNDFILE* f) const { ::sf_close(f); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

struct PlayJob {
    // A wave file opened for reading, or (file empty) a tone.
    SndFilePtr file;
    SF_INFO info{};
    uint32_t toneHz = 0;
    uint32_t toneMs = 0;
};

// Hands a job to the worker (started on first use). False when the worker cannot run.
bool playInBackground(PlayJob job);
// Stops the sound playing now, if any.
void stopBackground();
// True when no background sound is waiting or playing (for tests that fork).
bool backgroundIdle();

} // namespace kvr::sound::detail
