#pragma once
// What a settings backup holds: the controller's settings image (35 words of its settings
// memory) and the settings record (13 driver and application settings kept on the PC side).
//
// Settings image: the words at the parameter addresses 0x81..0xA3, word n (1..35) at
// 0x80 + n, each as the two bytes "GP" returns and "SP" takes (byte 1 first). Nothing here
// interprets a word; the image is moved as it is.
//
// Settings record, always in this order (the order of the backup file):
//
//   no. setting                 width       fetched with                   restored with
//    1  report mode             byte        GetReportMode                  SetReportMode
//    2  manual right click on   flag 0/1    Get_Manual_RightClick_Status   Set_MRightClick_App
//    3  sound type              flag 0/1    Get_Sound_Type                 Set_Sound_Type
//    4  right click time        int32       GetRightClickTime              SetRightClickTime
//    5  right click enabled     flag 0/1    GetRightClickEnabled           EnableRightClick
//    6  double click speed      byte        GetDoubleClickSpeed            SetDoubleClickSpeed
//    7  double click area       byte        GetDoubleClickArea             SetDoubleClickArea
//    8  touch report status     flag 0/1    GetReportStatus                (reports always on)
//    9  touch-up sound          flag 0/1    GetUpSoundStatus               EnableUpSound
//   10  touch-down sound        flag 0/1    GetDownSoundStatus             EnableDownSound
//   11  rotation                byte        GetRotation                    SetRotation
//   12  buzzer frequency        int32       Get_BuzzerFreq                 Set_BuzzerFreq
//   13  buzzer duration         int32       Get_BuzzerDuration             Set_BuzzerDuration

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kvr::memtools {

// ---- settings image ----------------------------------------------------------------------------

inline constexpr int kImageWords = 35;
inline constexpr std::uint8_t kImageBaseAddress = 0x80; // word n lives at 0x80 + n
static_assert(kImageBaseAddress + kImageWords == 0xA3);

struct ImageWord {
    std::uint8_t byte1 = 0; // first two hex digits of the "GP" reply
    std::uint8_t byte2 = 0; // last two
    bool operator==(const ImageWord&) const = default;
};

// The image as an array indexed by word number - 1 (entry 0 is word 1 at 0x81).
using SettingsImage = std::array<ImageWord, kImageWords>;

// The parameter address of word n (1..35): 0x81..0xA3.
constexpr std::uint8_t imageAddress(int wordNumber) {
    return static_cast<std::uint8_t>(kImageBaseAddress + wordNumber);
}

// ---- settings record ---------------------------------------------------------------------------

enum class Setting : std::uint8_t {
    ReportMode,
    ManualRightClick,
    SoundType,
    RightClickTime,
    RightClickEnabled,
    DoubleClickSpeed,
    DoubleClickArea,
    ReportStatus,
    UpSound,
    DownSound,
    Rotation,
    BuzzerFreq,
    BuzzerDuration,
};
inline constexpr std::size_t kSettingCount = 13;

enum class Width : std::uint8_t {
    Flag,  // 0 or 1
    Byte,  // 0..255
    Int32, // signed 32-bit
};

// The width of each setting, in record order.
Width settingWidth(Setting setting);
// A short name for messages ("report mode").
std::string_view settingName(Setting setting);
// Whether `value` fits the setting's width.
bool fitsWidth(Setting setting, std::int64_t value);

// The thirteen values in record order. Every value is held as a signed 32-bit number; set()
// refuses a value that does not fit the setting's width, so a record only ever holds values a
// setter can be given.
class SettingsRecord {
public:
    [[nodiscard]] std::int32_t get(Setting setting) const {
        return values_[static_cast<std::size_t>(setting)];
    }
    // False (and nothing changed) when the value does not fit the setting's width.
    bool set(Setting setting, std::int64_t value);

    // By position 0..12 (the file's order).
    [[nodiscard]] std::int32_t at(std::size_t index) const { return values_[index]; }
    bool setAt(std::size_t index, std::int64_t value);

    bool operator==(const SettingsRecord&) const = default;

private:
    std::array<std::int32_t, kSettingCount> values_{};
};

// Every setting in record order (for loops over the record).
inline constexpr std::array<Setting, kSettingCount> kAllSettings = {
    Setting::ReportMode,      Setting::ManualRightClick,  Setting::SoundType,
    Setting::RightClickTime,  Setting::RightClickEnabled, Setting::DoubleClickSpeed,
    Setting::DoubleClickArea, Setting::ReportStatus,      Setting::UpSound,
    Setting::DownSound,       Setting::Rotation,          Setting::BuzzerFreq,
    Setting::BuzzerDuration,
};

// ---- checksum ----------------------------------------------------------------------------------

// The plain sum of the 70 image bytes and the 13 settings values: no modulus, no complement.
// It fits 32 bits for every record a backup writes; it is computed wider so that no record
// can make it wrap.
std::int64_t checksum(const SettingsImage& image, const SettingsRecord& record);

} // namespace kvr::memtools
