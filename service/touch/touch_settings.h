#pragma once
// The touch sound and access settings the service takes from the application key, with the
// defaults and ranges it applies when it starts and when the library tells it that a value
// changed.

#include <cstdint>
#include <string_view>

namespace kvr::touchsvc {

inline constexpr std::string_view kAppKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\KvrApp";
inline constexpr std::string_view kSoundTypeValue = "SoundType";
inline constexpr std::string_view kBuzzerFreqValue = "BuzzerFreq";
inline constexpr std::string_view kBuzzerDurationValue = "BuzzerDuration";
inline constexpr std::string_view kTimeOutValue = "TimeOut";

inline constexpr std::uint32_t kSoundTypeBeep = 1;
inline constexpr std::uint32_t kSoundTypeWave = 2;

// Accepted ranges (the system beep's own frequency limits; a touch beep of more than a second
// would hold up the service's event loop).
inline constexpr std::uint32_t kMinFreqHz = 37;
inline constexpr std::uint32_t kMaxFreqHz = 32767;
inline constexpr std::uint32_t kMinDurationMs = 5;
inline constexpr std::uint32_t kMaxDurationMs = 1000;

// At start: the value used when the key or the value is missing or out of range.
inline constexpr std::uint32_t kDefaultFreqHz = 2000;
inline constexpr std::uint32_t kDefaultDurationMs = 20;
inline constexpr std::uint32_t kDefaultTimeOutMs = 3000;
// On a reload control: what an out-of-range value becomes.
inline constexpr std::uint32_t kReloadFreqHz = 20000;
inline constexpr std::uint32_t kReloadDurationMs = 10;

struct TouchSettings {
    std::uint32_t soundType = kSoundTypeBeep;
    std::uint32_t freqHz = kDefaultFreqHz;
    std::uint32_t durationMs = kDefaultDurationMs;
    std::uint32_t timeOutMs = kDefaultTimeOutMs;
};

// The settings at start: defaults when the key cannot be opened; "SoundType" 1 is beeps, any
// other value waves, missing beeps; frequency and duration default when missing or out of
// range; the time-out defaults when missing.
TouchSettings readStartSettings();

// The reload controls. A value that is missing counts as out of range (the library writes the
// value before it sends the control, so that only happens when it was removed meanwhile);
// a missing time-out becomes the start default.
std::uint32_t reloadFreqHz();     // outside 37..32767 -> 20000
std::uint32_t reloadDurationMs(); // outside 5..1000 -> 10
std::uint32_t reloadTimeOutMs();

// Writes "SoundType" (the key is created when missing); false when the store refuses.
bool storeSoundType(std::uint32_t soundType);

// Half the beep frequency for the touch-up beep (integer division), at least 37 Hz.
std::uint32_t upBeepHz(std::uint32_t freqHz);

} // namespace kvr::touchsvc
