#pragma once
// Per-device queue of reply bytes from the controller, waiting for a reader.
//
// The decoder (read thread, device lock held) appends; the control interface (any thread)
// takes bytes, reads the count and flushes. The queue has its own mutex, which is a leaf:
// nothing else is ever locked while it is held, and readers take it without any other lock.
//
// Storage is a fixed ring of kResponseQueueCapacity bytes owned by the queue, standing in
// for the per-device node pool: appending never allocates. When the ring is full the NEW
// byte is refused (the "no node could be had" case) and counted in droppedBytes(): the
// oldest bytes are the ones a reader is waiting for (a reply to its own command arrives
// after its flush), and refusing the newest keeps what is queued in arrival order with no
// hole in the middle. appendAll() stores a run of bytes only when all of them fit, so a
// touch packet copied here with reports switched off is never queued in part.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace kvr::engine {

// A few KiB is far more than any reply (the longest is 10 bytes) and a reader takes at most
// 512 at a time; with reports switched off this holds about 800 unread touch packets.
inline constexpr std::size_t kResponseQueueCapacity = 4096;

class ResponseByteQueue {
public:
    ResponseByteQueue() = default;
    ResponseByteQueue(const ResponseByteQueue&) = delete;
    ResponseByteQueue& operator=(const ResponseByteQueue&) = delete;

    // Appends one byte at the tail. False when the queue is full (the byte is lost).
    bool append(std::uint8_t byte);
    // Appends `count` bytes only if all of them fit; false (nothing stored) otherwise.
    bool appendAll(const std::uint8_t* bytes, std::size_t count);
    // Removes up to `wanted` bytes from the head into `out`, oldest first; returns the number
    // taken (0 when empty).
    std::size_t take(std::uint8_t* out, std::size_t wanted);
    // Removes every queued byte.
    void flush();
    // Number of bytes held.
    std::uint32_t count() const;
    // Bytes refused because the queue was full, since creation (diagnostics).
    std::uint64_t droppedBytes() const { return dropped_.load(std::memory_order_relaxed); }

private:
    mutable std::mutex lock_;
    std::uint8_t ring_[kResponseQueueCapacity] = {};
    std::size_t head_ = 0; // index of the oldest byte
    std::uint32_t count_ = 0;
    std::atomic<std::uint64_t> dropped_{0};
};

} // namespace kvr::engine
