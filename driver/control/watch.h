#pragma once
// The driver's live watchers (IOCTL_KVR_WATCH): each holds one end of a socket pair that a
// client (kvrctl watch) passed, and receives the raw chunks and pointer records of one unit or
// of all of them. The read path asks active() first, one relaxed atomic load, so the driver
// pays nothing while nobody watches. A record is sent without waiting: a reader that falls
// behind loses records (counted and told), never slows the touch path. A watcher ends when
// its client closes the socket or the control connection it registered on.
//
// Called from read threads with the device lock (and for pointer records the pointer-port
// lock) held: the list's own lock is a leaf and nothing under it blocks.

#include "engine/interfaces.h"
#include "platform/ipc/control_codes.h"
#include "platform/common/unique_fd.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kvr::driver {

using control::kMaxWatchers;
using control::kMaxWatchPayload;
using control::kWatchEveryUnit;
using control::WatchHeader;
using control::WatchKind;
using control::WatchPointer;

class WatchList {
public:
    [[nodiscard]] bool active() const { return count_.load(std::memory_order_relaxed) != 0; }

    // Adds a watcher of `unit` (or kWatchEveryUnit) writing to `socket`, registered on
    // control connection `owner`. The NT status of the request.
    std::uint32_t add(UniqueFd socket, std::uint8_t unit, std::uint64_t owner);
    void releaseOwnedBy(std::uint64_t owner);
    void releaseAll();

    void raw(std::uint8_t unit, const std::uint8_t* bytes, std::size_t count);
    void pointer(std::uint8_t unit, const engine::MouseInputData& record);

    // The unit whose read thread runs on this thread (set by the read path around decoding),
    // so a pointer record delivered from inside the decoder is known by its unit.
    class ReadingUnit {
    public:
        explicit ReadingUnit(std::uint8_t unit);
        ~ReadingUnit();
        ReadingUnit(const ReadingUnit&) = delete;
        ReadingUnit& operator=(const ReadingUnit&) = delete;
        static std::uint8_t current();
    };

private:
    struct Watcher {
        UniqueFd socket;
        std::uint8_t unit;
        std::uint64_t owner;
        std::uint32_t dropped = 0;
    };
    void publish(std::uint8_t unit, WatchKind kind, const void* payload, std::size_t length);

    std::mutex lock_;
    std::vector<Watcher> watchers_; // under lock_
    std::atomic<std::size_t> count_{0};
};

} // namespace kvr::driver
