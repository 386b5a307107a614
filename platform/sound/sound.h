#pragma once
// Tones and wave files for the suite's beeps and touch sounds.
//
// Sounds go to the ALSA "default" device. A machine without a sound card (or without a
// usable ALSA configuration) is silent and nothing fails: every call behaves, and takes the
// time, as if the sound had been heard.
//
// KVR_SOUND_SINK=DIR (read at every call) writes every tone and wave that would be played to a
// numbered WAV file in DIR instead of playing it, so tests can measure them:
//   000001-beep-750Hz-200ms.wav       beep(750, 200)
//   000002-message-880Hz-100ms.wav    messageBeep(kMessageBeepOk)
//   000003-wave-DownSound.wav         playWave(".../DownSound.wav")
// Numbers rise by one per sound across all threads and processes that share DIR; a file
// appears under its final name only once it is complete. DIR also holds the hidden files
// ".sequence" (the last number) and, briefly, ".part-*" (files being written).
//
// No call throws.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kvr::sound {

// The frequencies a system beep accepts (as Windows' Beep).
constexpr uint32_t kMinBeepHz = 37;
constexpr uint32_t kMaxBeepHz = 32767;
// Tones are made at this rate so that every accepted frequency lies below half of it.
constexpr uint32_t kToneSampleRateHz = 96000;

// Plays a sine tone and returns when it has sounded (after durationMs even when silent).
// False, at once and without a sound, when freqHz is outside kMinBeepHz..kMaxBeepHz.
// A duration of 0 returns true at once.
bool beep(uint32_t freqHz, uint32_t durationMs);

// Starts playing a WAV file (any format libsndfile reads) and returns at once; a sound
// started later by this process stops the one still playing. False when the file cannot be
// opened or read as sound; true otherwise (also when the machine is silent). With the sink,
// the copy is written before the call returns.
bool playWave(const std::filesystem::path& path);

// Stops a wave or message beep this process is playing (nothing when none plays).
void stopPlayback();

// The system's message sounds, by message-box icon type (values as Windows' MB_ICON*).
constexpr uint32_t kMessageBeepOk = 0x00000000;   // default sound
constexpr uint32_t kMessageBeepHand = 0x00000010; // error
constexpr uint32_t kMessageBeepQuestion = 0x00000020;
constexpr uint32_t kMessageBeepExclamation = 0x00000030; // warning
constexpr uint32_t kMessageBeepAsterisk = 0x00000040;    // information
constexpr uint32_t kMessageBeepSimple = 0xFFFFFFFF;      // the plain speaker beep

// Starts the short tone for a message type and returns at once (unknown types sound as
// kMessageBeepOk). Always true.
bool messageBeep(uint32_t type);

struct Tone {
    uint32_t freqHz;
    uint32_t durationMs;
};
// The tone that messageBeep plays for a type.
Tone messageTone(uint32_t type);

// The sink folder from KVR_SOUND_SINK, when set and not empty.
std::optional<std::filesystem::path> sinkDir();

} // namespace kvr::sound
