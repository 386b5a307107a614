#include "platform/serial/port.h"

#include "platform/clock/clock.h"
#include "platform/common/log.h"
#include "platform/serial/dos_names.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace kvr::serial {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

bool fail(Error* error, int code, std::string text, OpenFailure kind = OpenFailure::Failed) {
    if (error != nullptr) {
        error->code = code;
        error->text = std::move(text);
        error->kind = kind;
    }
    return false;
}

// The kind of an open(2) or access(2) failure.
OpenFailure failureOf(int e) {
    switch (e) {
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenFailure::PermissionDenied;
    case EBUSY:
        return OpenFailure::Busy;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case ELOOP:
        return OpenFailure::Gone;
    default:
        return OpenFailure::Failed;
    }
}

// Errors after which the tty is gone for good: hang-up, adapter unplugged, pty master closed.
bool isDisconnectErrno(int e) {
    return e == EIO || e == ENXIO || e == ENODEV || e == EPIPE;
}

std::string describe(const std::filesystem::path& device, int code) {
    return device.string() + ": " + std::strerror(code);
}

// The poll(2) timeout for a wait until `until` (none: for ever).
int pollTimeout(const std::optional<SteadyTime>& until) {
    return until ? clock::Deadline(*until).pollTimeoutMs() : -1;
}

constexpr short kGone = POLLHUP | POLLERR;

} // namespace

const char* ioStatusText(IoStatus status) {
    switch (status) {
    case IoStatus::Ok:
        return "ok";
    case IoStatus::TimedOut:
        return "timed out";
    case IoStatus::Stopped:
        return "stopped";
    case IoStatus::Disconnected:
        return "disconnected";
    case IoStatus::Failed:
        return "failed";
    }
    return "failed";
}

Port::~Port() {
    if (!restore_ || !fd_) return;
    if (restore_->settings) {
        ::tcflush(fd_.get(), TCIOFLUSH);
        ::tcsetattr(fd_.get(), TCSANOW, &*restore_->settings);
    }
    if (restore_->exclusiveTty) ::ioctl(fd_.get(), TIOCNXCL);
}

std::unique_ptr<Port> Port::open(const std::filesystem::path& device, const OpenOptions& options,
                                 Error* error) {
    // O_NONBLOCK: open() must not wait for carrier; all I/O afterwards goes through poll.
    int raw = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (raw < 0) {
        int e = errno;
        fail(error, e, describe(device, e), failureOf(e));
        return nullptr;
    }
    UniqueFd fd(raw);
    termios t{};
    if (::tcgetattr(fd.get(), &t) != 0) {
        int e = errno;
        fail(error, e, device.string() + ": not a serial port (" + std::strerror(e) + ")",
             OpenFailure::NotSerial);
        return nullptr;
    }
    auto restore = std::make_unique<Restore>();
    if (options.restoreOnClose) restore->settings = t;
    if (options.exclusiveTty) {
        // Root may open an exclusive tty; this Port still keeps its hands off it.
        int exclusive = 0;
        if (::ioctl(fd.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
            fail(error, EBUSY, device.string() + ": port is in use", OpenFailure::Busy);
            return nullptr;
        }
    }
    if (options.exclusive && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        fail(error, e,
             device.string() + ": " +
                 (e == EWOULDBLOCK ? std::string("port is in use") : std::strerror(e)),
             e == EWOULDBLOCK ? OpenFailure::Busy : OpenFailure::Failed);
        return nullptr;
    }
    makeRaw(t);
    if (!applyBaudRate(t, options.baudRate, error) || !applyLineControl(t, options.line, error)) {
        if (error != nullptr) error->text = device.string() + ": " + error->text;
        return nullptr;
    }
    if (::tcsetattr(fd.get(), TCSANOW, &t) != 0) {
        int e = errno;
        fail(error, e, describe(device, e));
        return nullptr;
    }
    if (options.lowLatency) lowerReceiveLatency(fd.get(), device);
    // Exclusive from here on; the Port (and so its destructor) exists from the next line.
    if (options.exclusiveTty) restore->exclusiveTty = ::ioctl(fd.get(), TIOCEXCL) == 0;
    KVR_LOG_DEBUG("serial: opened %s at %u baud", device.c_str(), options.baudRate);
    std::unique_ptr<Port> port(new Port(std::move(fd), device));
    if (restore->settings || restore->exclusiveTty) port->restore_ = std::move(restore);
    return port;
}

std::unique_ptr<Port> Port::openDosName(std::string_view dosName, const OpenOptions& options,
                                        Error* error) {
    auto device = resolveDosName(dosName);
    if (!device) {
        fail(error, EINVAL, "'" + std::string(dosName) + "' is not a serial port name (COMn)");
        return nullptr;
    }
    auto port = open(*device, options, error);
    if (!port && error != nullptr) error->text = std::string(dosName) + " (" + error->text + ")";
    return port;
}

bool Port::setBaudRate(std::uint32_t baudRate, Error* error) {
    termios t{};
    if (::tcgetattr(fd_.get(), &t) != 0) return fail(error, errno, describe(path_, errno));
    if (!applyBaudRate(t, baudRate, error)) return false;
    if (::tcsetattr(fd_.get(), TCSANOW, &t) != 0) return fail(error, errno, describe(path_, errno));
    return true;
}

bool Port::setLineControl(const LineControl& line, Error* error) {
    termios t{};
    if (::tcgetattr(fd_.get(), &t) != 0) return fail(error, errno, describe(path_, errno));
    if (!applyLineControl(t, line, error)) return false;
    if (::tcsetattr(fd_.get(), TCSANOW, &t) != 0) return fail(error, errno, describe(path_, errno));
    return true;
}

void Port::setTimeouts(const Timeouts& timeouts) {
    std::lock_guard<std::mutex> lock(timeoutsMutex_);
    timeouts_ = timeouts;
}

Timeouts Port::timeouts() const {
    std::lock_guard<std::mutex> lock(timeoutsMutex_);
    return timeouts_;
}

IoResult Port::read(std::span<std::uint8_t> buffer, int stopFd,
                    std::optional<std::chrono::milliseconds> timeout) {
    std::optional<SteadyTime> until;
    if (timeout) until = clock::now() + std::max(*timeout, std::chrono::milliseconds(0));
    return readSome(buffer, stopFd, until);
}

IoResult Port::readSome(std::span<std::uint8_t> buffer, int stopFd,
                        std::optional<SteadyTime> until) {
    if (buffer.empty()) return {IoStatus::Ok, 0, 0};
    for (;;) {
        std::array<pollfd, 2> fds{{{stopFd, POLLIN, 0}, {fd_.get(), POLLIN, 0}}};
        // With no stop descriptor only the tty is watched.
        pollfd* first = stopFd >= 0 ? &fds[0] : &fds[1];
        nfds_t count = stopFd >= 0 ? 2 : 1;
        int r = ::poll(first, count, pollTimeout(until));
        if (r < 0) {
            if (errno == EINTR) continue;
            return {IoStatus::Failed, 0, errno};
        }
        if (r == 0) return {IoStatus::TimedOut, 0, 0};
        if (stopFd >= 0) {
            if (fds[0].revents & POLLNVAL) return {IoStatus::Failed, 0, EBADF};
            // The stop wins over data: a stopping reader takes nothing more from the line.
            if (fds[0].revents != 0) return {IoStatus::Stopped, 0, 0};
        }
        const short revents = fds[1].revents;
        if (revents & POLLNVAL) return {IoStatus::Failed, 0, EBADF};
        if ((revents & (POLLIN | kGone)) == 0) continue;
        ssize_t n = ::read(fd_.get(), buffer.data(), buffer.size());
        if (n > 0) return {IoStatus::Ok, static_cast<std::size_t>(n), 0};
        if (n == 0) return {IoStatus::Disconnected, 0, 0}; // end of file: hung up
        const int e = errno;
        if (e == EAGAIN || e == EINTR) {
            if (revents & kGone) return {IoStatus::Disconnected, 0, e};
            continue; // woken without data; wait again
        }
        if (isDisconnectErrno(e)) return {IoStatus::Disconnected, 0, e};
        return {IoStatus::Failed, 0, e};
    }
}

IoResult Port::readPerTimeouts(std::span<std::uint8_t> buffer, int stopFd) {
    const Timeouts t = timeouts();
    if (buffer.empty()) return {IoStatus::Ok, 0, 0};
    const bool intervalMax = t.readInterval == kMaxDword;
    if (intervalMax && t.readTotalMultiplier == 0 && t.readTotalConstant == 0) {
        IoResult r = readSome(buffer, stopFd, clock::now());
        if (r.status == IoStatus::TimedOut) return {IoStatus::Ok, 0, 0};
        return r;
    }
    if (intervalMax && t.readTotalMultiplier == kMaxDword && t.readTotalConstant > 0 &&
        t.readTotalConstant < kMaxDword) {
        return readSome(buffer, stopFd,
                        clock::now() + std::chrono::milliseconds(t.readTotalConstant));
    }

    // Far beyond any real wait, but small enough that the time point cannot overflow.
    constexpr std::uint64_t kLongestWaitMs = std::uint64_t{1} << 40;
    std::optional<SteadyTime> total;
    if (t.readTotalMultiplier != 0 || t.readTotalConstant != 0) {
        std::uint64_t ms = std::uint64_t{t.readTotalMultiplier} * buffer.size() +
                           std::uint64_t{t.readTotalConstant};
        total = clock::now() + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
    }
    const bool useInterval = t.readInterval != 0 && !intervalMax;
    std::size_t got = 0;
    while (got < buffer.size()) {
        std::optional<SteadyTime> until = total;
        if (got > 0 && useInterval) {
            SteadyTime gap = clock::now() + std::chrono::milliseconds(t.readInterval);
            until = until ? std::min(*until, gap) : gap;
        }
        IoResult r = readSome(buffer.subspan(got), stopFd, until);
        if (r.status == IoStatus::Ok) {
            got += r.count;
            continue;
        }
        // Bytes already taken are handed over; a hang-up or error shows on the next read.
        if (got > 0 && (r.status == IoStatus::Disconnected || r.status == IoStatus::Failed)) {
            return {IoStatus::Ok, got, 0};
        }
        r.count = got;
        return r;
    }
    return {IoStatus::Ok, got, 0};
}

IoResult Port::write(std::span<const std::uint8_t> bytes, int stopFd) {
    std::lock_guard<std::mutex> lock(writeMutex_);
    const Timeouts t = timeouts();
    std::chrono::milliseconds limit = kDefaultWriteLimit;
    if (t.writeTotalMultiplier != 0 || t.writeTotalConstant != 0) {
        constexpr std::uint64_t kLongestWaitMs = std::uint64_t{1} << 40;
        std::uint64_t ms = std::uint64_t{t.writeTotalMultiplier} * bytes.size() +
                           std::uint64_t{t.writeTotalConstant};
        limit = std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
    }
    const clock::Deadline deadline(limit);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int e = n < 0 ? errno : EAGAIN;
        if (e == EINTR) continue;
        if (isDisconnectErrno(e)) return {IoStatus::Disconnected, done, e};
        if (e != EAGAIN) return {IoStatus::Failed, done, e};
        // The output queue is full: wait until it drains, the stop comes or time runs out.
        std::array<pollfd, 2> fds{{{fd_.get(), POLLOUT, 0}, {stopFd, POLLIN, 0}}};
        int r = ::poll(fds.data(), stopFd >= 0 ? 2 : 1, deadline.pollTimeoutMs());
        if (r < 0) {
            if (errno == EINTR) continue;
            return {IoStatus::Failed, done, errno};
        }
        if (r == 0) return {IoStatus::TimedOut, done, 0};
        if (stopFd >= 0 && fds[1].revents != 0) {
            if (fds[1].revents & POLLNVAL) return {IoStatus::Failed, done, EBADF};
            return {IoStatus::Stopped, done, 0};
        }
        if (fds[0].revents & POLLNVAL) return {IoStatus::Failed, done, EBADF};
        if ((fds[0].revents & kGone) && !(fds[0].revents & POLLOUT)) {
            return {IoStatus::Disconnected, done, 0};
        }
    }
    return {IoStatus::Ok, done, 0};
}

bool Port::discard(Queue queue, Error* error) {
    int which = queue == Queue::Input ? TCIFLUSH : queue == Queue::Output ? TCOFLUSH : TCIOFLUSH;
    if (::tcflush(fd_.get(), which) != 0) return fail(error, errno, describe(path_, errno));
    return true;
}

OpenFailure accessProblem(const std::filesystem::path& device) {
    if (::access(device.c_str(), R_OK | W_OK) == 0) return OpenFailure::None;
    const OpenFailure kind = failureOf(errno);
    return kind == OpenFailure::PermissionDenied || kind == OpenFailure::Gone ? kind
                                                                              : OpenFailure::None;
}

std::string portHolder(const std::filesystem::path& device) {
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0) return {};
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    // "1: FLOCK  ADVISORY  WRITE 4711 00:05:1234 0 EOF"
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind >> mode >> access >> pid >> file)) continue;
        if (kind != "FLOCK" || file != id) continue;
        std::ifstream comm("/proc/" + pid + "/comm");
        std::string name;
        std::getline(comm, name);
        return (name.empty() ? std::string("process") : name) + " (pid " + pid + ")";
    }
    return {};
}

std::string portGroup(const std::filesystem::path& device) {
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0) return {};
    std::array<char, 1024> buffer{};
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(node.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr)
        return {};
    return found->gr_name;
}

LatencyResult lowerReceiveLatency(int fd, const std::filesystem::path& device,
                                  const std::filesystem::path& sysClassTty) {
    LatencyResult result;
    // USB-serial drivers (and the 8250 UARTs) hand received bytes to the tty layer through a
    // work queue unless this flag is set; with it they push them at once.
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
        if ((info.flags & ASYNC_LOW_LATENCY) == 0) {
            info.flags |= ASYNC_LOW_LATENCY;
            if (::ioctl(fd, TIOCSSERIAL, &info) == 0) result.lowLatencyFlag = true;
        } else {
            result.lowLatencyFlag = true;
        }
    }
    // FTDI chips hold received bytes up to their latency timer (16 ms by default) before they
    // send a USB packet; a touch report would wait that long.
    std::error_code ec;
    auto real = std::filesystem::canonical(device, ec);
    if (ec || real.filename().empty()) return result;
    auto timer = sysClassTty / real.filename() / "device" / "latency_timer";
    UniqueFd in(::open(timer.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return result;
    char text[16] = {};
    ssize_t n = ::read(in.get(), text, sizeof text - 1);
    if (n > 0 && std::atoi(text) == 1) {
        result.latencyTimer = true;
        return result;
    }
    UniqueFd out(::open(timer.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (out && ::write(out.get(), "1", 1) == 1) {
        result.latencyTimer = true;
        KVR_LOG_DEBUG("serial: latency timer of %s set to 1 ms", real.c_str());
    }
    return result;
}

} // namespace kvr::serial
