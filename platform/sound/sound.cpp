#include "platform/sound/sound.h"

#include "platform/common/log.h"
#include "platform/sound/alsa_output.h"
#include "platform/sound/player.h"
#include "platform/sound/sink.h"
#include "platform/sound/tone.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace kvr::sound {
namespace {

constexpr std::size_t kChunkFrames = 4096;

SF_INFO toneInfo() {
    SF_INFO info{};
    info.samplerate = static_cast<int>(kToneSampleRateHz);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    return info;
}

bool writeTone(const std::filesystem::path& dir, const char* kind, uint32_t freqHz,
               uint32_t durationMs) {
    char label[64];
    std::snprintf(label, sizeof label, "%s-%uHz-%ums", kind, freqHz, durationMs);
    return detail::writeSinkFile(dir, label, toneInfo(), [&](SNDFILE* sf) {
        detail::ToneGenerator tone(freqHz, durationMs, kToneSampleRateHz);
        int16_t buf[kChunkFrames];
        while (!tone.done()) {
            const std::size_t n = tone.fill(buf, kChunkFrames);
            if (::sf_writef_short(sf, buf, static_cast<sf_count_t>(n)) !=
                static_cast<sf_count_t>(n))
                return false;
        }
        return true;
    });
}

// The file's base name without extension, limited to characters that are safe in a file name.
std::string waveLabel(const std::filesystem::path& path) {
    std::string stem = path.stem().string();
    for (char& c : stem) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!safe) c = '_';
    }
    if (stem.size() > 64) stem.resize(64);
    return "wave-" + (stem.empty() ? std::string("sound") : stem);
}

// Copies every frame of an open wave file to the sink, in the source's sample format when a
// WAV file can hold it (so the copy is exact), else as 16-bit PCM.
bool copyWaveToSink(const std::filesystem::path& dir, const std::filesystem::path& path,
                    SNDFILE* in, const SF_INFO& inInfo) {
    SF_INFO out{};
    out.samplerate = inInfo.samplerate;
    out.channels = inInfo.channels;
    out.format = SF_FORMAT_WAV | (inInfo.format & SF_FORMAT_SUBMASK);
    if (!::sf_format_check(&out)) out.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    return detail::writeSinkFile(dir, waveLabel(path), out, [&](SNDFILE* sf) {
        std::vector<int> buf(kChunkFrames * static_cast<std::size_t>(inInfo.channels));
        for (;;) {
            const sf_count_t n = ::sf_readf_int(in, buf.data(), kChunkFrames);
            if (n < 0) return false;
            if (n == 0) return true;
            if (::sf_writef_int(sf, buf.data(), n) != n) return false;
        }
    });
}

bool playTone(uint32_t freqHz, uint32_t durationMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(durationMs);
    bool ok = true;
    if (auto dir = sinkDir()) {
        ok = writeTone(*dir, "beep", freqHz, durationMs);
    } else if (auto out = detail::AlsaOutput::open(kToneSampleRateHz, 1)) {
        detail::ToneGenerator tone(freqHz, durationMs, kToneSampleRateHz);
        int16_t buf[kChunkFrames];
        while (!tone.done()) {
            const std::size_t n = tone.fill(buf, kChunkFrames);
            if (!out->write(buf, n)) break; // a failing device goes silent, the beep still lasts
        }
        out->drain();
    }
    // A beep lasts its length whatever the output: callers pace themselves by it.
    std::this_thread::sleep_until(until);
    return ok;
}

} // namespace

std::optional<std::filesystem::path> sinkDir() {
    const char* v = std::getenv("KVR_SOUND_SINK");
    if (v == nullptr || *v == '\0') return std::nullopt;
    return std::filesystem::path(v);
}

bool beep(uint32_t freqHz, uint32_t durationMs) {
    if (freqHz < kMinBeepHz || freqHz > kMaxBeepHz) return false;
    if (durationMs == 0) return true;
    try {
        return playTone(freqHz, durationMs);
    } catch (const std::exception& e) {
        KVR_LOG_WARN("sound: beep failed: %s", e.what());
        return false;
    }
}

bool playWave(const std::filesystem::path& path) {
    try {
        SF_INFO info{};
        detail::SndFilePtr file(::sf_open(path.c_str(), SFM_READ, &info));
        if (!file) {
            KVR_LOG_WARN("sound: cannot play %s: %s", path.c_str(), ::sf_strerror(nullptr));
            return false;
        }
        if (info.channels < 1 || info.samplerate <= 0) return false;
        if (auto dir = sinkDir()) return copyWaveToSink(*dir, path, file.get(), info);
        detail::PlayJob job;
        job.file = std::move(file);
        job.info = info;
        detail::playInBackground(std::move(job));
        return true; // a silent machine still "plays"
    } catch (const std::exception& e) {
        KVR_LOG_WARN("sound: cannot play %s: %s", path.c_str(), e.what());
        return false;
    }
}

void stopPlayback() {
    detail::stopBackground();
}

Tone messageTone(uint32_t type) {
    // Only the icon bits choose the sound, as with MessageBeep(MB_OK | MB_ICONASTERISK).
    if (type != kMessageBeepSimple) type &= 0xF0;
    switch (type) {
    case kMessageBeepSimple:
        return {750, 200};
    case kMessageBeepHand:
        return {440, 250};
    case kMessageBeepQuestion:
        return {990, 100};
    case kMessageBeepExclamation:
        return {660, 150};
    case kMessageBeepAsterisk:
        return {1320, 100};
    default:
        return {880, 100}; // kMessageBeepOk and anything unknown
    }
}

bool messageBeep(uint32_t type) {
    try {
        const Tone t = messageTone(type);
        if (auto dir = sinkDir()) {
            writeTone(*dir, "message", t.freqHz, t.durationMs);
            return true;
        }
        detail::PlayJob job;
        job.toneHz = t.freqHz;
        job.toneMs = t.durationMs;
        detail::playInBackground(std::move(job));
    } catch (const std::exception& e) {
        KVR_LOG_WARN("sound: message beep failed: %s", e.what());
    }
    return true;
}

} // namespace kvr::sound
