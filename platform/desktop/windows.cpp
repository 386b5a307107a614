#include "platform/desktop/windows.h"

#include "platform/common/log.h"
#include "platform/common/paths.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <unistd.h>

namespace kvr::desktop {
namespace {

std::filesystem::path windowDir() {
    return kvr::paths::runtimeDir() / "windows";
}

// Self-pipe: the handler may only write(). Each signal becomes one byte.
std::atomic<int> g_messageWriteFd{-1};
int g_messageReadFd = -1;
constexpr char kDestroyByte = 'D';
constexpr char kFrontByte = 'F';

extern "C" void onWindowSignal(int sig) {
    const int savedErrno = errno;
    const char byte = (sig == SIGTERM) ? kDestroyByte : kFrontByte;
    const int fd = g_messageWriteFd.load(std::memory_order_relaxed);
    if (fd >= 0) [[maybe_unused]]
        auto n = ::write(fd, &byte, 1); // a full pipe drops the byte: messages repeat
    errno = savedErrno;
}

} // namespace

std::optional<WindowRegistration> WindowRegistration::create(std::string_view name) {
    try {
        WindowRegistration reg;
        if (detail::OwnedName::acquire(windowDir(), name, reg.owned_) !=
            detail::AcquireResult::Acquired)
            return std::nullopt;
        reg.name_ = std::string(name);
        return reg;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<pid_t> findWindow(std::string_view name) {
    try {
        return detail::findOwner(windowDir(), name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool sendDestroy(std::string_view name) {
    try {
        return detail::signalOwner(windowDir(), name, SIGTERM);
    } catch (const std::exception&) {
        return false;
    }
}

bool bringToFront(std::string_view name) {
    try {
        return detail::signalOwner(windowDir(), name, SIGUSR1);
    } catch (const std::exception&) {
        return false;
    }
}

int windowMessageFd() {
    static std::once_flag once;
    std::call_once(once, [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            KVR_LOG_WARN("window messages: no pipe: %s", std::strerror(errno));
            return;
        }
        g_messageReadFd = fds[0];
        g_messageWriteFd.store(fds[1]);
        struct sigaction sa {};
        sa.sa_handler = onWindowSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, nullptr);
        ::sigaction(SIGUSR1, &sa, nullptr);
    });
    return g_messageReadFd;
}

std::optional<WindowMessage> readWindowMessage() {
    const int fd = windowMessageFd();
    if (fd < 0) return std::nullopt;
    char byte = 0;
    if (::read(fd, &byte, 1) != 1) return std::nullopt;
    return byte == kDestroyByte ? WindowMessage::Destroy : WindowMessage::BringToFront;
}

} // namespace kvr::desktop
