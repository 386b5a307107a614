#include "protocol/wait.h"

#include "platform/clock/clock.h"

#include <algorithm>
#include <mutex>

namespace kvr::protocol {

namespace {

std::mutex g_pumpMutex;
EventPump g_pump;

EventPump currentPump() {
    std::lock_guard<std::mutex> lock(g_pumpMutex);
    return g_pump;
}

} // namespace

void setEventPump(EventPump pump) {
    std::lock_guard<std::mutex> lock(g_pumpMutex);
    g_pump = std::move(pump);
}

void WaitMilliseconds(std::uint16_t milliseconds) {
    // A copy, so that a handler run by the pump may replace the pump without harm.
    WaitMilliseconds(milliseconds, currentPump());
}

void WaitMilliseconds(std::uint16_t milliseconds, const EventPump& pump) {
    const clock::Deadline deadline{std::chrono::milliseconds(milliseconds)};
    if (!pump) {
        clock::sleepUntil(deadline.when());
        return;
    }
    while (!deadline.expired()) {
        pump();
        if (deadline.expired()) break;
        // Sleep to the next pump run, or to the end when that comes first.
        clock::sleepUntil(std::min(deadline.when(), clock::now() + kEventPumpInterval));
    }
}

} // namespace kvr::protocol
