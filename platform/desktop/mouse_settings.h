#pragma once
// The desktop's double-click settings, kept where Windows keeps them and where the suite's Qt
// programs read them: HKEY_CURRENT_USER\Control Panel\Mouse, values "DoubleClickSpeed" (ms),
// "DoubleClickWidth" and "DoubleClickHeight" (pixels). They are written as REG_SZ decimal
// text, as Windows writes them; a REG_DWORD is read as well. A missing or unreadable value
// reads as Windows' default. No call throws.

#include <cstdint>

namespace kvr::desktop {

constexpr const char* kMouseKey = "HKEY_CURRENT_USER\\Control Panel\\Mouse";
constexpr uint32_t kDefaultDoubleClickMs = 500;
constexpr uint32_t kMaxDoubleClickMs = 5000; // the desktop caps longer times to this
constexpr uint32_t kDefaultDoubleClickWidthPx = 4;
constexpr uint32_t kDefaultDoubleClickHeightPx = 4;

struct DoubleClickSettings {
    uint32_t timeMs = kDefaultDoubleClickMs;
    uint32_t widthPx = kDefaultDoubleClickWidthPx;
    uint32_t heightPx = kDefaultDoubleClickHeightPx;
    bool operator==(const DoubleClickSettings&) const = default;
};

// Double-click time: a stored 0 means the default, more than kMaxDoubleClickMs the maximum
// (as the desktop treats them).
uint32_t doubleClickTimeMs();
uint32_t doubleClickWidthPx();
uint32_t doubleClickHeightPx();
DoubleClickSettings doubleClickSettings();

// Each writes one value (creating the key when missing); false when the store refuses.
bool setDoubleClickTimeMs(uint32_t ms);
bool setDoubleClickWidthPx(uint32_t px);
bool setDoubleClickHeightPx(uint32_t px);

} // namespace kvr::desktop
