#pragma once
// Fetching the settings record from the touch API library, and handing it back.
//
// Fetching replaces every value that is out of range by a fallback before it goes into a
// backup; the ranges differ between the backup program and the control panel's silent
// backup, so they are a parameter. Flags become 0 or 1 by fixed rules:
//   manual right click   1 when the result is not 0
//   sound type           1 when the result is 1 (buzzer beeps), else 0
//   right click enabled, touch report status, touch-up sound, touch-down sound
//                        1 when the low 16 bits of the result are not 0

#include "memtools/settings_image.h"

#include <cstdint>

namespace kvr::memtools {

struct KeptRange {
    std::int64_t min;
    std::int64_t max;
    std::int32_t fallback; // replaces a value outside min..max
};

struct FetchRules {
    KeptRange reportMode;
    KeptRange rightClickTime;
    KeptRange doubleClickSpeed;
    KeptRange doubleClickArea;
    KeptRange rotation;
    KeptRange buzzerFreq;
    KeptRange buzzerDuration;
};

// The backup program's ranges.
inline constexpr FetchRules kBackupProgramRules{
    .reportMode = {1, 3, 1},
    .rightClickTime = {300, 1200, 1000},
    .doubleClickSpeed = {1, 10, 6},
    .doubleClickArea = {1, 6, 6},
    .rotation = {0, 3, 0},
    .buzzerFreq = {100, 12000, 1200},
    .buzzerDuration = {5, 125, 25},
};

// The control panel's silent backup: the same except the buzzer.
inline constexpr FetchRules kControlPanelRules{
    .reportMode = {1, 3, 1},
    .rightClickTime = {300, 1200, 1000},
    .doubleClickSpeed = {1, 10, 6},
    .doubleClickArea = {1, 6, 6},
    .rotation = {0, 3, 0},
    .buzzerFreq = {200, 12000, 1000},
    .buzzerDuration = {5, 150, 10},
};

// A value kept when it is in range, else the fallback.
std::int32_t keepInRange(std::int64_t value, const KeptRange& range);

// The thirteen values from the library, in record order, each through its rule. The handle
// is that of the controller being backed up (opened by the caller).
SettingsRecord fetchSettings(std::int32_t handle, const FetchRules& rules = kBackupProgramRules);

// Hands the record back in its order: SetReportMode, Set_MRightClick_App (-1 for 1, 0 for 0),
// Set_Sound_Type, SetRightClickTime, EnableRightClick, SetDoubleClickSpeed,
// SetDoubleClickArea, DisableTouchReport with 0 (reports on, whatever value 8 says),
// EnableUpSound, EnableDownSound, SetRotation, Set_BuzzerFreq, Set_BuzzerDuration. The
// setters' results are not examined.
void applySettings(std::int32_t handle, const SettingsRecord& record);

} // namespace kvr::memtools
