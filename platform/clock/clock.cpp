#include "platform/clock/clock.h"

#include <cerrno>
#include <climits>
#include <time.h>

namespace kvr::clock {

TimePoint now() {
    return Clock::now();
}

void sleepUntil(TimePoint when) {
    // libstdc++'s steady_clock is CLOCK_MONOTONIC; an absolute sleep on it resumes correctly
    // after a signal without drifting.
    static_assert(Clock::is_steady);
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    if (ns < 0) return;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

void sleepFor(std::chrono::nanoseconds duration) {
    if (duration.count() <= 0) return;
    sleepUntil(now() + std::chrono::duration_cast<Duration>(duration));
}

std::int64_t elapsedMs(TimePoint since) {
    auto d = now() - since;
    if (d.count() < 0) return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

std::int64_t elapsedUs(TimePoint since) {
    auto d = now() - since;
    if (d.count() < 0) return 0;
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

Duration Deadline::remaining() const {
    auto d = when_ - now();
    return d.count() < 0 ? Duration::zero() : d;
}

int Deadline::pollTimeoutMs() const {
    auto left = remaining();
    if (left <= Duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

int pollTimeoutMs(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) return -1;
    if (timeout->count() <= 0) return 0;
    return timeout->count() > INT_MAX ? INT_MAX : static_cast<int>(timeout->count());
}

} // namespace kvr::clock
