#pragma once
// The touch access time-out: one timer thread for the service's whole life.
//
// Every lift arms the timer for the current time-out (a later lift moves the deadline), every
// new touch disarms it. When a deadline passes with no touch since the lift that set it, the
// expiry action runs once on the timer thread. So of all the lifts only the last one before a
// quiet time-out switches the controllers back on, and no timer outlives the service: stop()
// ends the thread and joins it, also in the middle of a wait.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kvr::touchsvc {

class AccessTimer {
public:
    explicit AccessTimer(std::function<void()> onExpiry);
    ~AccessTimer(); // stop()
    AccessTimer(const AccessTimer&) = delete;
    AccessTimer& operator=(const AccessTimer&) = delete;

    void start();
    // Ends the thread (an expiry action already running finishes first). Safe to call twice.
    void stop();

    void arm(std::chrono::milliseconds timeOut);
    void disarm();
    [[nodiscard]] bool armed() const;
    // Expiry actions run so far.
    [[nodiscard]] std::uint64_t expiries() const;

private:
    void run();

    std::function<void()> onExpiry_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool stopping_ = false;
    std::uint64_t expiries_ = 0;
    std::thread thread_;
};

} // namespace kvr::touchsvc
