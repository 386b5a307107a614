#pragma once
// Time for waits and timeouts: the steady (monotonic) clock only, so nothing here moves when
// somebody sets the time of day. Sleeps block in the kernel; nothing spins.

#include <chrono>
#include <cstdint>
#include <optional>

namespace kvr::clock {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

TimePoint now();

// Sleeps the whole duration (a signal does not cut it short). Zero or negative: returns at once.
// Takes any whole-unit duration (ms, us, s...).
void sleepFor(std::chrono::nanoseconds duration);
// Sleeps until the steady clock reaches `when` (returns at once when it already has).
void sleepUntil(TimePoint when);

// Whole milliseconds (microseconds) since `since`, truncated; 0 when `since` is in the future.
std::int64_t elapsedMs(TimePoint since);
std::int64_t elapsedUs(TimePoint since);

// Measures time from its start (construction or restart()).
class Stopwatch {
public:
    Stopwatch() : start_(now()) {}
    void restart() { start_ = now(); }
    [[nodiscard]] Duration elapsed() const { return now() - start_; }
    [[nodiscard]] std::int64_t elapsedMs() const { return clock::elapsedMs(start_); }
    [[nodiscard]] std::int64_t elapsedUs() const { return clock::elapsedUs(start_); }
    [[nodiscard]] TimePoint started() const { return start_; }

private:
    TimePoint start_;
};

// A point in time some duration from now, for loops that wait in several steps.
class Deadline {
public:
    explicit Deadline(std::chrono::nanoseconds fromNow)
        : when_(now() + std::chrono::duration_cast<Duration>(fromNow)) {}
    explicit Deadline(TimePoint when) : when_(when) {}
    [[nodiscard]] TimePoint when() const { return when_; }
    [[nodiscard]] bool expired() const { return now() >= when_; }
    // Time left, never negative.
    [[nodiscard]] Duration remaining() const;
    // Time left as a poll(2) timeout: whole milliseconds rounded UP (so a wait never ends
    // before the deadline and never degenerates into a spin of zero-timeout polls), capped at
    // INT_MAX; 0 once expired.
    [[nodiscard]] int pollTimeoutMs() const;

private:
    TimePoint when_;
};

// poll(2) timeout for an optional wait: -1 (forever) when there is none.
int pollTimeoutMs(std::optional<std::chrono::milliseconds> timeout);

} // namespace kvr::clock
