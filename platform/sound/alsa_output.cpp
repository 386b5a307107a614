#include "platform/sound/alsa_output.h"

#include "platform/common/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace kvr::sound::detail {
namespace {

// ALSA reports a missing card on stderr by itself; route those lines to our debug log.
void quietAlsaErrors(const char* file, int line, const char* function, int err, const char* fmt,
                     ...) {
    if (kvr::log::level() < kvr::log::Level::Debug) return;
    char text[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    KVR_LOG_DEBUG("alsa: %s:%d %s: %s (%d)", file, line, function, text, err);
}

constexpr unsigned kLatencyUs =
    100000; // short enough for touch clicks, long enough not to underrun

} // namespace

std::unique_ptr<AlsaOutput> AlsaOutput::open(uint32_t rateHz, uint32_t channels) {
    static std::once_flag once;
    std::call_once(once, [] { ::snd_lib_error_set_handler(quietAlsaErrors); });

    snd_pcm_t* pcm = nullptr;
    // Non-blocking open: a device held by another program must not hang the caller.
    int rc = ::snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (rc < 0) {
        KVR_LOG_DEBUG("sound: no playback device (%s); staying silent", ::snd_strerror(rc));
        return nullptr;
    }
    rc = ::snd_pcm_nonblock(pcm, 0);
    if (rc >= 0)
        rc = ::snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, channels,
                                  rateHz, 1 /* resample in software when needed */, kLatencyUs);
    if (rc < 0) {
        KVR_LOG_DEBUG("sound: playback device refuses %u Hz x %u (%s); staying silent", rateHz,
                      channels, ::snd_strerror(rc));
        ::snd_pcm_close(pcm);
        return nullptr;
    }
    return std::unique_ptr<AlsaOutput>(new AlsaOutput(pcm, channels));
}

AlsaOutput::~AlsaOutput() {
    ::snd_pcm_close(pcm_);
}

bool AlsaOutput::write(const int16_t* frames, std::size_t count) {
    while (count > 0) {
        snd_pcm_sframes_t n = ::snd_pcm_writei(pcm_, frames, count);
        if (n < 0) {
            n = ::snd_pcm_recover(pcm_, static_cast<int>(n), 1); // underrun or suspend
            if (n < 0) {
                KVR_LOG_DEBUG("sound: playback failed (%s)", ::snd_strerror(static_cast<int>(n)));
                return false;
            }
            continue;
        }
        frames += static_cast<std::size_t>(n) * channels_;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

void AlsaOutput::drain() {
    ::snd_pcm_drain(pcm_);
}
void AlsaOutput::drop() {
    ::snd_pcm_drop(pcm_);
}

} // namespace kvr::sound::detail
