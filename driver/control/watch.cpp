#include "driver/control/watch.h"
#include "platform/ipc/nt_status.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/socket.h>

namespace kvr::driver {
namespace ntstatus = ::kvr::ipc::status;
namespace {

thread_local std::uint8_t t_readingUnit = kWatchEveryUnit;

std::uint64_t nowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

bool isSeqPacketSocket(int fd) {
    int type = 0;
    socklen_t length = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_SEQPACKET;
}

} // namespace

WatchList::ReadingUnit::ReadingUnit(std::uint8_t unit) {
    t_readingUnit = unit;
}
WatchList::ReadingUnit::~ReadingUnit() {
    t_readingUnit = kWatchEveryUnit;
}
std::uint8_t WatchList::ReadingUnit::current() {
    return t_readingUnit;
}

std::uint32_t WatchList::add(UniqueFd socket, std::uint8_t unit, std::uint64_t owner) {
    if (!socket) return ntstatus::kInvalidHandle;
    if (!isSeqPacketSocket(socket.get())) return ntstatus::kObjectTypeMismatch;
    std::lock_guard guard(lock_);
    if (watchers_.size() >= kMaxWatchers) return ntstatus::kInsufficientResources;
    watchers_.push_back(Watcher{std::move(socket), unit, owner});
    count_.store(watchers_.size(), std::memory_order_relaxed);
    return ntstatus::kSuccess;
}

void WatchList::releaseOwnedBy(std::uint64_t owner) {
    std::lock_guard guard(lock_);
    std::erase_if(watchers_, [owner](const Watcher& w) { return w.owner == owner; });
    count_.store(watchers_.size(), std::memory_order_relaxed);
}

void WatchList::releaseAll() {
    std::lock_guard guard(lock_);
    watchers_.clear();
    count_.store(0, std::memory_order_relaxed);
}

void WatchList::raw(std::uint8_t unit, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const std::size_t part = std::min<std::size_t>(count, kMaxWatchPayload);
        publish(unit, WatchKind::Raw, bytes, part);
        bytes += part;
        count -= part;
    }
}

void WatchList::pointer(std::uint8_t unit, const engine::MouseInputData& record) {
    const WatchPointer p{record.lastX, record.lastY, record.buttonFlags, 0};
    publish(unit, WatchKind::Pointer, &p, sizeof p);
}

void WatchList::publish(std::uint8_t unit, WatchKind kind, const void* payload,
                        std::size_t length) {
    std::uint8_t message[sizeof(WatchHeader) + kMaxWatchPayload];
    const auto frame = [&](WatchKind k, const void* data, std::size_t bytes) {
        const WatchHeader header{k, unit, static_cast<std::uint16_t>(bytes), 0, nowNs()};
        std::memcpy(message, &header, sizeof header);
        std::memcpy(message + sizeof header, data, bytes);
        return sizeof header + bytes;
    };
    std::lock_guard guard(lock_);
    for (auto it = watchers_.begin(); it != watchers_.end();) {
        Watcher& w = *it;
        if (w.unit != kWatchEveryUnit && w.unit != unit) {
            ++it;
            continue;
        }
        bool gone = false;
        if (w.dropped > 0) {
            // The reader has room again: tell it what it missed first.
            const std::size_t size = frame(WatchKind::Dropped, &w.dropped, sizeof w.dropped);
            if (::send(w.socket.get(), message, size, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
                w.dropped = 0;
            else
                gone = errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS;
        }
        if (!gone && w.dropped == 0) {
            const std::size_t size = frame(kind, payload, length);
            if (::send(w.socket.get(), message, size, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
                gone = errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS;
                if (!gone) ++w.dropped;
            }
        } else if (!gone) {
            ++w.dropped;
        }
        // A reader that went away (its end closed) is forgotten at once.
        it = gone ? watchers_.erase(it) : it + 1;
    }
    count_.store(watchers_.size(), std::memory_order_relaxed);
}

} // namespace kvr::driver
