#include "memtools/settings_image.h"

#include <limits>

namespace kvr::memtools {
namespace {

struct SettingInfo {
    Width width;
    std::string_view name;
};

constexpr std::array<SettingInfo, kSettingCount> kSettings = {{
    {Width::Byte, "report mode"},
    {Width::Flag, "manual right click"},
    {Width::Flag, "sound type"},
    {Width::Int32, "right click time"},
    {Width::Flag, "right click enabled"},
    {Width::Byte, "double click speed"},
    {Width::Byte, "double click area"},
    {Width::Flag, "touch report status"},
    {Width::Flag, "touch-up sound"},
    {Width::Flag, "touch-down sound"},
    {Width::Byte, "rotation"},
    {Width::Int32, "buzzer frequency"},
    {Width::Int32, "buzzer duration"},
}};

} // namespace

Width settingWidth(Setting setting) {
    return kSettings[static_cast<std::size_t>(setting)].width;
}

std::string_view settingName(Setting setting) {
    return kSettings[static_cast<std::size_t>(setting)].name;
}

bool fitsWidth(Setting setting, std::int64_t value) {
    switch (settingWidth(setting)) {
    case Width::Flag:
        return value == 0 || value == 1;
    case Width::Byte:
        return value >= 0 && value <= 255;
    case Width::Int32:
        return value >= std::numeric_limits<std::int32_t>::min() &&
               value <= std::numeric_limits<std::int32_t>::max();
    }
    return false;
}

bool SettingsRecord::set(Setting setting, std::int64_t value) {
    if (!fitsWidth(setting, value)) return false;
    values_[static_cast<std::size_t>(setting)] = static_cast<std::int32_t>(value);
    return true;
}

bool SettingsRecord::setAt(std::size_t index, std::int64_t value) {
    if (index >= kSettingCount) return false;
    return set(kAllSettings[index], value);
}

std::int64_t checksum(const SettingsImage& image, const SettingsRecord& record) {
    std::int64_t sum = 0;
    for (const ImageWord& w : image)
        sum += w.byte1 + w.byte2;
    for (std::size_t i = 0; i < kSettingCount; ++i)
        sum += record.at(i);
    return sum;
}

} // namespace kvr::memtools
