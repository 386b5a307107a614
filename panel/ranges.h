#pragma once
// The panel's sliders: ranges, steps and design values, and the rules that turn values read
// from the controller or the library into slider positions.

#include <cstdint>

namespace kvr::panel {

struct SliderRange {
    int minimum;
    int maximum;
    int largeStep;
    int initial; // the design value
    [[nodiscard]] constexpr int clamp(int value) const {
        return value < minimum ? minimum : value > maximum ? maximum : value;
    }
};

// "Advance" tab: the controller's parameters (value label = value).
inline constexpr SliderRange kMeasTime{5, 100, 5, 5};      // HScra1, 01 first byte
inline constexpr SliderRange kMeasDelay{10, 250, 10, 250}; // HScra2, 05 second byte
inline constexpr SliderRange kInFocus{1, 25, 1, 3};        // HScrInfocus, 01 second byte
inline constexpr SliderRange kOutFocus{100, 255, 10, 250}; // HScrOutfocus, 03 second byte
inline constexpr SliderRange kAccLevel{20, 250, 10, 250};  // HScroll3, 9F second byte
inline constexpr SliderRange kNoiseLevel{20, 250, 10, 50}; // HScroll4, 9F first byte

// "Settings" and "Parameter" tabs: the driver's settings.
inline constexpr SliderRange kBuzzerFrequency{1, 120, 10, 37};  // VScroll1, label x 100 Hz
inline constexpr SliderRange kBuzzerDuration{1, 25, 5, 5};      // VScroll2, label x 5 ms
inline constexpr SliderRange kDoubleClickSpeed{1, 10, 1, 3};    // HScroll1, label x 100
inline constexpr SliderRange kDoubleClickArea{1, 6, 1, 6};      // HScroll2, label = value
inline constexpr SliderRange kRightClickTime{50, 159, 10, 159}; // HScrRightClickTime, x 8 ms

inline constexpr int kBuzzerHzPerStep = 100;
inline constexpr int kBuzzerMsPerStep = 5;
inline constexpr int kSpeedLabelFactor = 100;
inline constexpr int kRightClickMsPerStep = 8;

// n / d rounded to the nearest whole number, halves to the even neighbour (d > 0, n >= 0).
constexpr int roundHalfEven(int n, int d) {
    const int q = n / d;
    const int r = n % d;
    if (2 * r > d || (2 * r == d && (q % 2) != 0)) return q + 1;
    return q;
}

// Frequency slider for a buzzer frequency read from the library; nothing (slider unchanged)
// outside 199..12000 Hz.
constexpr int buzzerFrequencySlider(std::uint32_t hz, int current) {
    if (hz <= 198 || hz >= 12001) return current;
    return kBuzzerFrequency.clamp(roundHalfEven(static_cast<int>(hz), kBuzzerHzPerStep));
}

// Duration slider for a buzzer duration; unchanged outside 5..150 ms. 130..150 ms pass the
// range test but lie beyond the slider's 125 ms: they show as its maximum.
constexpr int buzzerDurationSlider(std::uint32_t ms, int current) {
    if (ms <= 4 || ms >= 151) return current;
    return kBuzzerDuration.clamp(roundHalfEven(static_cast<int>(ms), kBuzzerMsPerStep));
}

// Right-click time shown: below 400 or above 1272 ms becomes 672 ms.
constexpr int shownRightClickTime(std::int32_t ms) {
    return (ms < 400 || ms > 1272) ? 672 : ms;
}
constexpr int rightClickSlider(int shownMs) {
    return kRightClickTime.clamp(roundHalfEven(shownMs, kRightClickMsPerStep));
}

// Double click speed and area: outside 1..10 and 1..6 become 6.
constexpr int shownDoubleClickSpeed(std::int32_t s) {
    return (s < 1 || s > 10) ? 6 : s;
}
constexpr int shownDoubleClickArea(std::int32_t a) {
    return (a < 1 || a > 6) ? 6 : a;
}

// Report mode read at start: 1..3 as read; anything else is taken as drawing mode (2), and
// the option, the driver and the saved mode all get it.
inline constexpr std::uint8_t kFallbackReportMode = 2;
constexpr std::uint8_t shownReportMode(std::uint8_t mode) {
    return (mode >= 1 && mode <= 3) ? mode : kFallbackReportMode;
}

// Rotation: codes above 3 show as 0.
constexpr int shownRotation(std::uint8_t code) {
    return code > 3 ? 0 : code;
}

// Twips of the window design to pixels: 15 twips a pixel at 96 dpi, scaled with the
// screen's logical dpi.
constexpr int twipsToPixels(int twips, double logicalDpi) {
    const double px = twips / 15.0 * logicalDpi / 96.0;
    return static_cast<int>(px < 0 ? px - 0.5 : px + 0.5);
}

} // namespace kvr::panel
