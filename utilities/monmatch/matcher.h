#pragma once
// The monitor matching sequence, apart from its window: the displays are offered one after
// the other (1-based), the library is told which one is offered and asked whether a touched
// controller has been bound to it; and the controllers' report modes are switched from the
// button mode to the drawing mode for the time of the matching (a touch in button mode would
// click whatever lies under it) and given back afterwards.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvr::monmatch {

// The library's maximum number of controllers.
inline constexpr std::size_t kMaxControllers = 8;
inline constexpr std::uint8_t kDrawingMode = 2;
inline constexpr std::uint8_t kButtonMode = 3;

class ReportModes {
public:
    // Visits every listed controller: remembers its report mode and switches button mode
    // to drawing mode.
    void saveAndSwitch();
    // Gives every controller visited its remembered mode back unless that is the drawing
    // mode. Does it once; later calls do nothing.
    void restore();

    // The mode remembered for controller i (0-based, as listed at the visit); 2 when none.
    [[nodiscard]] std::uint8_t saved(std::size_t i) const { return saved_[i]; }

private:
    std::vector<std::string> names_;
    std::array<std::uint8_t, kMaxControllers> saved_{2, 2, 2, 2, 2, 2, 2, 2};
    bool restored_ = false;
};

// A display's rectangle in desktop pixels (right and bottom exclusive).
struct DisplayArea {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

class MonitorMatcher {
public:
    // Lists the displays and offers display 1. False when there is none.
    bool start();

    enum class Advance { NextDisplay, Finished };
    // The current display was matched (or skipped): offers the next one, or says that the
    // last one has been offered.
    Advance advance();
    // True once a touched controller has been bound to the display offered.
    bool touched();

    // The rectangle of display `number` as the library's table has it.
    [[nodiscard]] std::optional<DisplayArea> area(std::uint8_t number) const;

    [[nodiscard]] std::uint8_t current() const { return current_; }
    [[nodiscard]] std::uint8_t count() const { return count_; }

private:
    std::uint8_t current_ = 1;
    std::uint8_t count_ = 0;
};

} // namespace kvr::monmatch
