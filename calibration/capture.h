#pragma once
// The capture of the calibration programs: one target after the other, each taken when the
// driver has captured a touch on it and the finger has been lifted. The window calls tick()
// on its capture timer (every 200 ms) and carries out what the tick asks for (draw the
// target, beep); the library calls go through CaptureCalls, so the programs bind them to
// their exports and tests to scripted answers.
//
// One tick:
//   - no point captured yet: the target blinks, red and white on alternate ticks;
//   - a point captured (the finger is on the target): the target turns yellow, the first
//     tick of a press beeps; a press held for more than 20 ticks re-arms the target, so the
//     next tick beeps again and the point is taken afresh;
//   - the finger lifted after the capture: the point is taken (asterisk sound) and the next
//     target is armed, or the capture is finished after the last one.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kvr::calibration {

enum class TargetColour : std::uint8_t { Red, White, Yellow };

// A raw sensor coordinate pair as the driver captured it.
struct RawPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const RawPoint&) const = default;
};

struct CaptureCalls {
    std::function<void(std::uint8_t target)> arm;          // (re)start capturing a target
    std::function<std::int32_t(RawPoint& point)> captured; // 1 and the point; 0 none yet
    std::function<std::int32_t()> penUp;                   // 1 once the finger has left
    std::function<void()> settle;                          // the short pause after a press tick
};

struct TickResult {
    std::optional<TargetColour> colour; // draw `target` in this colour
    std::size_t target = 0;
    bool pressBeep = false; // the default message beep: the first tick of a press
    bool pointBeep = false; // the asterisk sound: the point was taken
    bool finished = false;  // that was the last target
};

class Capture {
public:
    // Ticks a press may last before the target is armed afresh.
    static constexpr std::uint8_t kPressTicks = 20;

    // Target 0 is the current one; whoever opens the capture has armed it.
    Capture(std::size_t targetCount, CaptureCalls calls);

    // Starts again at target 0 (arming it), with no point taken and the press state cleared.
    void restart();
    TickResult tick();
    // Clears the press state (tick counter and beeped flag), as Esc does.
    void clearPress();

    [[nodiscard]] std::size_t current() const { return current_; }
    [[nodiscard]] std::size_t targetCount() const { return targetCount_; }
    [[nodiscard]] bool finished() const { return current_ >= targetCount_; }
    // The points taken, in target order.
    [[nodiscard]] const std::vector<RawPoint>& points() const { return points_; }

private:
    std::size_t targetCount_;
    CaptureCalls calls_;
    std::size_t current_ = 0;
    std::uint8_t pressTicks_ = 0;
    bool beeped_ = false;
    bool blinkPhase_ = false;
    std::vector<RawPoint> points_;
};

} // namespace kvr::calibration
