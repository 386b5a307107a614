#include "engine/response_queue.h"

namespace kvr::engine {

bool ResponseByteQueue::append(std::uint8_t byte) {
    std::lock_guard guard(lock_);
    if (count_ == kResponseQueueCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ring_[(head_ + count_) % kResponseQueueCapacity] = byte;
    ++count_;
    return true;
}

bool ResponseByteQueue::appendAll(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard guard(lock_);
    if (count > kResponseQueueCapacity - count_) {
        dropped_.fetch_add(count, std::memory_order_relaxed);
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        ring_[(head_ + count_) % kResponseQueueCapacity] = bytes[i];
        ++count_;
    }
    return true;
}

std::size_t ResponseByteQueue::take(std::uint8_t* out, std::size_t wanted) {
    std::lock_guard guard(lock_);
    std::size_t taken = 0;
    while (taken < wanted && count_ > 0) {
        out[taken++] = ring_[head_];
        head_ = (head_ + 1) % kResponseQueueCapacity;
        --count_;
    }
    return taken;
}

void ResponseByteQueue::flush() {
    std::lock_guard guard(lock_);
    head_ = 0;
    count_ = 0;
}

std::uint32_t ResponseByteQueue::count() const {
    std::lock_guard guard(lock_);
    return count_;
}

} // namespace kvr::engine
