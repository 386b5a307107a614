#pragma once
// Event objects: an eventfd each. Set = write 1, reset = drain the counter, wait = poll.
// A program registers an event with a driver by sending its descriptor with the request
// (SCM_RIGHTS); the daemon keeps its own duplicate and only ever sets it.
//
// Reset mode is a property of this process's Event object, not of the descriptor:
//  - Manual: wait() leaves the event set; it stays set until reset().
//  - Auto:   a successful wait()/waitAny() on it resets it (consumes the signal).
// isSet() never changes the state in either mode.
//
// All operations are thread-safe (each is one system call on the descriptor).

#include "platform/common/unique_fd.h"
#include "platform/ipc/nt_status.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace kvr::ipc {

enum class ResetMode { Manual, Auto };

class Event {
public:
    // A new, non-signalled event (non-blocking, close-on-exec). Nothing when out of descriptors.
    static std::optional<Event> create(ResetMode mode = ResetMode::Manual);
    // Takes ownership of a descriptor received from a client (the daemon side). Accepts only
    // an eventfd; `status` (if given) tells why not: kInvalidHandle for no/invalid descriptor,
    // kObjectTypeMismatch for a descriptor of another kind, kSuccess when adopted.
    static std::optional<Event> adopt(UniqueFd fd, std::uint32_t* status = nullptr,
                                      ResetMode mode = ResetMode::Manual);

    Event(Event&&) noexcept = default;
    Event& operator=(Event&&) noexcept = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event() = default;

    // Never blocks, even if the peer has made the descriptor blocking.
    void set() const;
    void reset() const;
    [[nodiscard]] bool isSet() const;
    // Waits until set or until `timeout` passes; true when set (auto-reset: and consumes it).
    // A zero timeout only tests; a negative one is treated as zero.
    bool wait(std::chrono::milliseconds timeout) const;
    // Waits without a time limit.
    bool wait() const;

    [[nodiscard]] int fd() const { return fd_.get(); }
    [[nodiscard]] ResetMode mode() const { return mode_; }
    // A second Event on the same eventfd (its own descriptor, same mode).
    [[nodiscard]] std::optional<Event> duplicate() const;

private:
    Event(UniqueFd fd, ResetMode mode) : fd_(std::move(fd)), mode_(mode) {}
    friend int waitAny(std::span<const Event* const>, std::optional<std::chrono::milliseconds>);
    bool consumeIfAuto() const;

    UniqueFd fd_;
    ResetMode mode_ = ResetMode::Manual;
};

// True when `fd` is an open eventfd of this process (/proc/self/fd/<fd> names
// "anon_inode:[eventfd]").
bool isEventFd(int fd);

// Waits for any of `events` to be set. Returns the index of the first set event in the given
// order (the caller's priority order), or -1 when the timeout passed first (no timeout: waits
// for ever). Null entries are ignored. An auto-reset event is consumed only when it is the one
// returned.
int waitAny(std::span<const Event* const> events, std::optional<std::chrono::milliseconds> timeout);

} // namespace kvr::ipc
