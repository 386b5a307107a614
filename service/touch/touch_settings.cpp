#include "service/touch/touch_settings.h"

#include "platform/registry/registry.h"

#include <algorithm>
#include <optional>

namespace kvr::touchsvc {

namespace {

std::optional<std::uint32_t> appDword(std::string_view name) {
    std::uint32_t value = 0;
    if (reg::queryDword(kAppKey, name, value) != reg::Status::Ok) return std::nullopt;
    return value;
}

std::uint32_t inRangeOr(std::optional<std::uint32_t> value, std::uint32_t low, std::uint32_t high,
                        std::uint32_t fallback) {
    return value && *value >= low && *value <= high ? *value : fallback;
}

} // namespace

TouchSettings readStartSettings() {
    TouchSettings s;
    if (reg::keyExists(kAppKey) != reg::Status::Ok) return s;
    const auto soundType = appDword(kSoundTypeValue);
    s.soundType = !soundType || *soundType == kSoundTypeBeep ? kSoundTypeBeep : kSoundTypeWave;
    s.freqHz = inRangeOr(appDword(kBuzzerFreqValue), kMinFreqHz, kMaxFreqHz, kDefaultFreqHz);
    s.durationMs = inRangeOr(appDword(kBuzzerDurationValue), kMinDurationMs, kMaxDurationMs,
                             kDefaultDurationMs);
    s.timeOutMs = appDword(kTimeOutValue).value_or(kDefaultTimeOutMs);
    return s;
}

std::uint32_t reloadFreqHz() {
    return inRangeOr(appDword(kBuzzerFreqValue), kMinFreqHz, kMaxFreqHz, kReloadFreqHz);
}

std::uint32_t reloadDurationMs() {
    return inRangeOr(appDword(kBuzzerDurationValue), kMinDurationMs, kMaxDurationMs,
                     kReloadDurationMs);
}

std::uint32_t reloadTimeOutMs() {
    return appDword(kTimeOutValue).value_or(kDefaultTimeOutMs);
}

bool storeSoundType(std::uint32_t soundType) {
    return reg::createKey(kAppKey) == reg::Status::Ok &&
           reg::setDword(kAppKey, kSoundTypeValue, soundType) == reg::Status::Ok;
}

std::uint32_t upBeepHz(std::uint32_t freqHz) {
    return std::max(freqHz / 2, kMinFreqHz);
}

} // namespace kvr::touchsvc
