// The trace sink: one text line per sample to a file, a Unix socket, a FIFO or standard output.

#include "platform/common/log.h"
#include "platform/pointer/pointer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace kvr::pointer {

namespace {

// strerror is not thread-safe, and deliver() runs on several threads.
std::string errnoText(int err) {
    char buf[128];
    return ::strerror_r(err, buf, sizeof buf); // the GNU form returns the text
}

enum class TargetKind { File, Socket, Pipe };

// A reader that stops reading must not stall the driver's read threads for long: after this
// the line is dropped.
constexpr int kSocketSendTimeoutMs = 1000;

class TraceSink final : public Sink {
public:
    TraceSink(UniqueFd fd, TargetKind target, std::string name)
        : fd_(std::move(fd)), target_(target), name_(std::move(name)) {}

    void deliver(int32_t pointerX, int32_t pointerY, uint16_t buttonFlags) override {
        // One line at a time, stamped under the lock: lines of concurrent samples never
        // interleave, and the order of lines is the order of their time stamps.
        std::lock_guard lock(mutex_);
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        char line[96];
        const int n =
            std::snprintf(line, sizeof line, "%lld %d %d %u\n", static_cast<long long>(us),
                          pointerX, pointerY, static_cast<unsigned>(buttonFlags));
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof line) return;
        const int err = writeLine(line, static_cast<std::size_t>(n));
        if (err == 0) {
            failed_ = false;
            return;
        }
        if (!failed_)
            KVR_LOG_WARN("pointer: trace %s: %s; samples are dropped until it works again",
                         name_.c_str(), errnoText(err).c_str());
        failed_ = true;
    }
    const char* kind() const override { return "trace"; }

private:
    // Writes all of one line; 0 or the errno of the failure.
    int writeLine(const char* p, std::size_t n) {
        if (target_ == TargetKind::Pipe) return writePipe(p, n);
        while (n > 0) {
            const ssize_t w = target_ == TargetKind::Socket ? ::send(fd_.get(), p, n, MSG_NOSIGNAL)
                                                            : ::write(fd_.get(), p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
        return 0;
    }

    // A pipe whose reader left raises SIGPIPE, which would end the whole daemon: block it for
    // this thread while writing and take back a SIGPIPE this write caused.
    int writePipe(const char* p, std::size_t n) {
        sigset_t pipeSet, old;
        sigemptyset(&pipeSet);
        sigaddset(&pipeSet, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
        int err = 0;
        while (n > 0) {
            const ssize_t w = ::write(fd_.get(), p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                err = errno;
                break;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
        if (err == EPIPE && !wasPending) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return err;
    }

    std::mutex mutex_;
    UniqueFd fd_;
    TargetKind target_;
    std::string name_;
    bool failed_ = false; // under mutex_: the last write failed (log once per outage)
};

UniqueFd connectUnixSocket(const std::string& path, std::string& error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        error = "socket path too long: " + path;
        return {};
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int lastErr = 0;
    // Whatever kind of socket the reader listens on.
    for (int type : {SOCK_STREAM, SOCK_SEQPACKET, SOCK_DGRAM}) {
        UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
        if (!fd) {
            lastErr = errno;
            continue;
        }
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            const timeval tv{kSocketSendTimeoutMs / 1000, (kSocketSendTimeoutMs % 1000) * 1000L};
            ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            return fd;
        }
        lastErr = errno;
        if (lastErr != EPROTOTYPE) break;
    }
    error = "cannot connect to trace socket " + path + ": " + errnoText(lastErr);
    return {};
}

} // namespace

std::unique_ptr<Sink> openTraceSink(const std::string& target, std::string& error) {
    error.clear();
    if (target.empty()) {
        error = "empty trace target";
        return nullptr;
    }
    if (target == "-") {
        UniqueFd fd(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
        if (!fd) {
            error = std::string("cannot use standard output: ") + errnoText(errno);
            return nullptr;
        }
        struct stat st {};
        const bool pipe = ::fstat(fd.get(), &st) == 0 && S_ISFIFO(st.st_mode);
        return std::make_unique<TraceSink>(
            std::move(fd), pipe ? TargetKind::Pipe : TargetKind::File, "standard output");
    }
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        UniqueFd fd = connectUnixSocket(target, error);
        if (!fd) return nullptr;
        return std::make_unique<TraceSink>(std::move(fd), TargetKind::Socket, target);
    }
    // Appended to, never truncated: a trace already there is somebody's data. O_NONBLOCK only
    // for the open itself, so a FIFO without a reader fails at once instead of hanging.
    UniqueFd fd(::open(target.c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
    if (!fd) {
        error = "cannot open trace file " + target + ": " + errnoText(errno);
        return nullptr;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    const bool pipe = ::fstat(fd.get(), &st) == 0 && S_ISFIFO(st.st_mode);
    return std::make_unique<TraceSink>(std::move(fd), pipe ? TargetKind::Pipe : TargetKind::File,
                                       target);
}

} // namespace kvr::pointer
