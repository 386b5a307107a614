#include "platform/ipc/event.h"

#include "platform/clock/clock.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace kvr::ipc {
namespace {

// Reads the counter to zero. False when it was already zero (or the read failed).
bool drain(int fd) {
    std::uint64_t value = 0;
    for (;;) {
        ssize_t n = ::read(fd, &value, sizeof value);
        if (n == static_cast<ssize_t>(sizeof value)) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

// A descriptor from another process may have had O_NONBLOCK cleared on the shared file
// description; a blocking read or write on it could stall the caller, so make sure first.
void ensureNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// poll(2) on the given descriptors for readability until `deadline` (none: for ever).
// Returns the poll result; restarts after signals with the time that is left.
int pollUntil(std::vector<pollfd>& fds, const std::optional<clock::Deadline>& deadline) {
    for (;;) {
        int timeout = deadline ? deadline->pollTimeoutMs() : -1;
        int r = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeout);
        if (r >= 0 || errno != EINTR) return r;
    }
}

} // namespace

bool isEventFd(int fd) {
    if (fd < 0) return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::array<char, 64> target{};
    ssize_t n = ::readlink(link, target.data(), target.size() - 1);
    if (n <= 0) return false;
    static constexpr char kEventFd[] = "anon_inode:[eventfd]";
    return static_cast<std::size_t>(n) == sizeof kEventFd - 1 &&
           std::memcmp(target.data(), kEventFd, sizeof kEventFd - 1) == 0;
}

std::optional<Event> Event::create(ResetMode mode) {
    UniqueFd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd) return std::nullopt;
    return Event(std::move(fd), mode);
}

std::optional<Event> Event::adopt(UniqueFd fd, std::uint32_t* status, ResetMode mode) {
    auto report = [status](std::uint32_t s) {
        if (status) *status = s;
    };
    if (!fd || ::fcntl(fd.get(), F_GETFD) < 0) {
        report(status::kInvalidHandle);
        return std::nullopt;
    }
    if (!isEventFd(fd.get())) {
        report(status::kObjectTypeMismatch);
        return std::nullopt;
    }
    ::fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
    ensureNonBlocking(fd.get());
    report(status::kSuccess);
    return Event(std::move(fd), mode);
}

void Event::set() const {
    if (!fd_) return;
    ensureNonBlocking(fd_.get());
    const std::uint64_t one = 1;
    for (;;) {
        ssize_t n = ::write(fd_.get(), &one, sizeof one);
        // EAGAIN: the counter is at its maximum, so the event is set already.
        if (n >= 0 || errno != EINTR) return;
    }
}

void Event::reset() const {
    if (!fd_) return;
    ensureNonBlocking(fd_.get());
    drain(fd_.get());
}

bool Event::isSet() const {
    if (!fd_) return false;
    pollfd p{fd_.get(), POLLIN, 0};
    for (;;) {
        int r = ::poll(&p, 1, 0);
        if (r >= 0) return r > 0 && (p.revents & POLLIN) != 0;
        if (errno != EINTR) return false;
    }
}

bool Event::consumeIfAuto() const {
    if (mode_ == ResetMode::Manual) return true;
    ensureNonBlocking(fd_.get());
    // Another waiter in this or another process may have taken the signal between the poll
    // and this read; then it was not ours and the wait goes on.
    return drain(fd_.get());
}

bool Event::wait(std::chrono::milliseconds timeout) const {
    const Event* self = this;
    return waitAny(std::span<const Event* const>(&self, 1),
                   timeout.count() < 0 ? std::chrono::milliseconds(0) : timeout) == 0;
}

bool Event::wait() const {
    const Event* self = this;
    return waitAny(std::span<const Event* const>(&self, 1), std::nullopt) == 0;
}

std::optional<Event> Event::duplicate() const {
    if (!fd_) return std::nullopt;
    UniqueFd copy(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
    if (!copy) return std::nullopt;
    return Event(std::move(copy), mode_);
}

int waitAny(std::span<const Event* const> events,
            std::optional<std::chrono::milliseconds> timeout) {
    std::optional<clock::Deadline> deadline;
    if (timeout) deadline.emplace(timeout->count() < 0 ? std::chrono::milliseconds(0) : *timeout);

    std::vector<pollfd> fds;
    std::vector<int> index; // fds[i] belongs to events[index[i]]
    fds.reserve(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i] == nullptr || !events[i]->fd_) continue;
        fds.push_back(pollfd{events[i]->fd(), POLLIN, 0});
        index.push_back(static_cast<int>(i));
    }
    for (;;) {
        if (fds.empty() && !deadline) return -1; // nothing could ever be set
        for (auto& p : fds)
            p.revents = 0;
        int r = pollUntil(fds, deadline);
        if (r < 0) return -1;
        if (r > 0) {
            // Several may be set at once: the first in the caller's order wins.
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if ((fds[i].revents & POLLIN) == 0) continue;
                if (events[static_cast<std::size_t>(index[i])]->consumeIfAuto()) return index[i];
            }
            // A descriptor that reports only an error would wake every poll at once: drop it.
            for (std::size_t i = fds.size(); i-- > 0;) {
                if ((fds[i].revents & POLLIN) == 0 &&
                    (fds[i].revents & (POLLERR | POLLNVAL)) != 0) {
                    fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
                    index.erase(index.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
        }
        if (deadline && deadline->expired()) return -1;
    }
}

} // namespace kvr::ipc
