#include "memtools/settings_transfer.h"

#include "tsapi/tsapi.h"

namespace kvr::memtools {
namespace {

std::int32_t flagFromLow16(std::int64_t value) {
    return (value & 0xFFFF) != 0 ? 1 : 0;
}

std::uint8_t byteOf(const SettingsRecord& r, Setting s) {
    return static_cast<std::uint8_t>(r.get(s));
}

} // namespace

std::int32_t keepInRange(std::int64_t value, const KeptRange& range) {
    return value >= range.min && value <= range.max ? static_cast<std::int32_t>(value)
                                                    : range.fallback;
}

SettingsRecord fetchSettings(std::int32_t handle, const FetchRules& rules) {
    SettingsRecord r;
    r.set(Setting::ReportMode, keepInRange(GetReportMode(handle), rules.reportMode));
    r.set(Setting::ManualRightClick, Get_Manual_RightClick_Status() != 0 ? 1 : 0);
    r.set(Setting::SoundType, Get_Sound_Type() == 1 ? 1 : 0);
    r.set(Setting::RightClickTime, keepInRange(GetRightClickTime(handle), rules.rightClickTime));
    r.set(Setting::RightClickEnabled, flagFromLow16(GetRightClickEnabled(handle)));
    r.set(Setting::DoubleClickSpeed,
          keepInRange(GetDoubleClickSpeed(handle), rules.doubleClickSpeed));
    r.set(Setting::DoubleClickArea, keepInRange(GetDoubleClickArea(handle), rules.doubleClickArea));
    r.set(Setting::ReportStatus, flagFromLow16(GetReportStatus(handle)));
    r.set(Setting::UpSound, flagFromLow16(GetUpSoundStatus(handle)));
    r.set(Setting::DownSound, flagFromLow16(GetDownSoundStatus(handle)));
    r.set(Setting::Rotation, keepInRange(GetRotation(handle), rules.rotation));
    r.set(Setting::BuzzerFreq, keepInRange(Get_BuzzerFreq(), rules.buzzerFreq));
    r.set(Setting::BuzzerDuration, keepInRange(Get_BuzzerDuration(), rules.buzzerDuration));
    return r;
}

void applySettings(std::int32_t handle, const SettingsRecord& r) {
    SetReportMode(handle, byteOf(r, Setting::ReportMode));
    Set_MRightClick_App(r.get(Setting::ManualRightClick) == 1 ? -1 : 0);
    Set_Sound_Type(static_cast<std::uint32_t>(r.get(Setting::SoundType)));
    SetRightClickTime(handle, r.get(Setting::RightClickTime));
    EnableRightClick(handle, byteOf(r, Setting::RightClickEnabled));
    SetDoubleClickSpeed(handle, byteOf(r, Setting::DoubleClickSpeed));
    SetDoubleClickArea(handle, byteOf(r, Setting::DoubleClickArea));
    DisableTouchReport(handle, 0); // reports on after a restore, whatever the file says
    EnableUpSound(handle, r.get(Setting::UpSound));
    EnableDownSound(handle, r.get(Setting::DownSound));
    SetRotation(handle, byteOf(r, Setting::Rotation));
    Set_BuzzerFreq(static_cast<std::uint32_t>(r.get(Setting::BuzzerFreq)));
    Set_BuzzerDuration(static_cast<std::uint32_t>(r.get(Setting::BuzzerDuration)));
}

} // namespace kvr::memtools
