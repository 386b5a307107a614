#include "service/touch/access_timer.h"

namespace kvr::touchsvc {

AccessTimer::AccessTimer(std::function<void()> onExpiry) : onExpiry_(std::move(onExpiry)) {}

AccessTimer::~AccessTimer() {
    stop();
}

void AccessTimer::start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopping_) return;
    thread_ = std::thread([this] { run(); });
}

void AccessTimer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        deadline_.reset();
    }
    changed_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void AccessTimer::arm(std::chrono::milliseconds timeOut) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        deadline_ = std::chrono::steady_clock::now() + timeOut;
    }
    changed_.notify_all();
}

void AccessTimer::disarm() {
    {
        std::lock_guard lock(mutex_);
        deadline_.reset();
    }
    changed_.notify_all();
}

bool AccessTimer::armed() const {
    std::lock_guard lock(mutex_);
    return deadline_.has_value();
}

std::uint64_t AccessTimer::expiries() const {
    std::lock_guard lock(mutex_);
    return expiries_;
}

void AccessTimer::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!deadline_) {
            changed_.wait(lock);
            continue;
        }
        const auto when = *deadline_;
        if (changed_.wait_until(lock, when) == std::cv_status::no_timeout) continue;
        // Still the same deadline (no touch, no later lift, no stop while we slept)?
        if (stopping_ || !deadline_ || *deadline_ != when) continue;
        deadline_.reset();
        ++expiries_;
        lock.unlock();
        try {
            onExpiry_();
        } catch (...) {
            // The action reports its own failures; nothing may end this thread early.
        }
        lock.lock();
    }
}

} // namespace kvr::touchsvc
