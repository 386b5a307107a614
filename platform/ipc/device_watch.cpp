#include "platform/ipc/device_watch.h"

#include "platform/ipc/wire.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace kvr::ipc {

namespace {

// A name the server uses for its own files (lock, socket before it is renamed into place).
bool isDeviceName(std::string_view name) {
    return !name.empty() && name.front() != '.';
}

} // namespace

std::optional<DeviceWatch> DeviceWatch::open() {
    UniqueFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd) return std::nullopt;
    std::string folder = wire::deviceDir(/*create=*/true);
    // A server binds under a private name and renames the socket into place; a socket made
    // under its own name would be a create.
    if (::inotify_add_watch(fd.get(), folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0)
        return std::nullopt;
    return DeviceWatch(std::move(fd), std::move(folder));
}

DeviceWatch::Wake DeviceWatch::wait(const Event& stop,
                                    std::span<const ControlConnection* const> connections,
                                    std::chrono::milliseconds timeout) {
    std::vector<pollfd> fds;
    fds.push_back({stop.fd(), POLLIN, 0});
    fds.push_back({inotify_.get(), POLLIN, 0});
    for (const ControlConnection* c : connections) {
        const int fd = c ? c->fd() : -1;
        if (fd >= 0) fds.push_back({fd, POLLIN | POLLRDHUP, 0});
    }
    const int ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(timeout.count(), 0));
    const int n = ::poll(fds.data(), fds.size(), ms);
    if (stop.isSet()) return Wake::Stop;
    if (n == 0) return Wake::TimedOut;
    // A failed wait (EINTR, out of memory) counts as a change: the caller looks and waits again.
    return Wake::Changed;
}

std::vector<std::string> DeviceWatch::takeAppeared() {
    std::vector<std::string> names;
    bool overflow = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event{};
            std::memcpy(&event, buffer + at, sizeof event);
            if ((event.mask & IN_Q_OVERFLOW) != 0) overflow = true;
            if (event.len > 0) {
                const char* name = buffer + at + sizeof(inotify_event);
                const std::string text(name, ::strnlen(name, event.len));
                if (isDeviceName(text)) names.push_back(text);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    if (overflow) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
            const std::string name = entry.path().filename().string();
            if (isDeviceName(name)) names.push_back(name);
        }
    }
    return names;
}

} // namespace kvr::ipc
