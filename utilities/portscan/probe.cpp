#include "utilities/portscan/probe.h"

#include "platform/common/log.h"
#include "platform/common/unique_fd.h"
#include "platform/serial/line.h"
#include "protocol/frame.h"
#include "protocol/replies.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <span>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kvr::portscan {

namespace {

// How long a 3-byte write may take before the port counts as stuck (a line with flow control
// held, a far end that never drains).
constexpr int kWriteLimitMs = 500;

// An open tty taken for the probe: exclusive while held; its line settings and exclusive mode
// as they were are put back when it goes away.
class ProbedTty {
public:
    // The tty, or nothing with the reason in `whyNot` (Busy or Unusable).
    static std::optional<ProbedTty> open(const std::filesystem::path& device, ProbeResult& whyNot) {
        whyNot = ProbeResult::Unusable;
        UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!fd) {
            if (errno == EBUSY) whyNot = ProbeResult::Busy;
            return std::nullopt;
        }
        termios saved{};
        if (::tcgetattr(fd.get(), &saved) != 0) return std::nullopt;
        whyNot = ProbeResult::Busy;
        int exclusive = 0;
        // Root may open an exclusive tty; the probe still keeps its hands off it.
        if (::ioctl(fd.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) return std::nullopt;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
        ::ioctl(fd.get(), TIOCEXCL);
        return ProbedTty(std::move(fd), saved);
    }

    ProbedTty(ProbedTty&&) = default;
    ProbedTty& operator=(ProbedTty&&) = delete;
    ProbedTty(const ProbedTty&) = delete;
    ~ProbedTty() {
        if (!fd_) return;
        ::tcflush(fd_.get(), TCIOFLUSH);
        ::tcsetattr(fd_.get(), TCSANOW, &saved_);
        ::ioctl(fd_.get(), TIOCNXCL);
    }

    [[nodiscard]] int fd() const { return fd_.get(); }

    // 9600 baud, 8 data bits, no parity, 1 stop bit, raw.
    bool configure() {
        termios t = saved_;
        serial::makeRaw(t);
        if (!serial::applyBaudRate(t, 9600) ||
            !serial::applyLineControl(t, serial::LineControl{})) {
            return false;
        }
        return ::tcsetattr(fd_.get(), TCSANOW, &t) == 0;
    }

private:
    ProbedTty(UniqueFd fd, const termios& saved) : fd_(std::move(fd)), saved_(saved) {}
    UniqueFd fd_;
    termios saved_{};
};

// Polls the tty for `events` and the stop event; 1 ready, 0 time-out, -1 stopped or failed.
int waitFor(int fd, short events, const ipc::Event& stop, int timeoutMs) {
    for (;;) {
        std::array<pollfd, 2> fds{{{stop.fd(), POLLIN, 0}, {fd, events, 0}}};
        const int n = ::poll(fds.data(), fds.size(), timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || fds[0].revents != 0) return -1;
        if (n == 0) return 0;
        return (fds[1].revents & (events | POLLERR | POLLHUP)) != 0 ? 1 : 0;
    }
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes, const ipc::Event& stop) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (waitFor(fd, POLLOUT, stop, kWriteLimitMs) != 1) return false;
    }
    return true;
}

// What has arrived, or what arrives within the read time-out when nothing has.
std::size_t readArrived(int fd, std::span<std::uint8_t> buffer) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

} // namespace

const char* probeResultText(ProbeResult result) {
    switch (result) {
    case ProbeResult::Found:
        return "controller found";
    case ProbeResult::NoDevice:
        return "no answer";
    case ProbeResult::Unusable:
        return "not a usable serial port";
    case ProbeResult::Busy:
        return "in use by another program";
    case ProbeResult::Stopped:
        return "stopped";
    }
    return "?";
}

ProbeResult probePort(const std::filesystem::path& device, const ipc::Event& stop) {
    ProbeResult whyNot = ProbeResult::Unusable;
    std::optional<ProbedTty> tty = ProbedTty::open(device, whyNot);
    if (!tty) return whyNot;
    if (!tty->configure()) return ProbeResult::Unusable;

    protocol::CommandFrame reset;
    protocol::BuildCommand(reset, "R");
    std::array<std::uint8_t, kProbeReadBytes> reply{};
    for (int attempt = 0; attempt < kProbeTries; ++attempt) {
        ::tcflush(tty->fd(), TCIFLUSH);
        if (!writeAll(tty->fd(), reset.bytes(), stop))
            return stop.isSet() ? ProbeResult::Stopped : ProbeResult::NoDevice;
        if (stop.wait(kProbeReplyWait)) return ProbeResult::Stopped;
        std::size_t got = readArrived(tty->fd(), reply);
        if (got == 0) {
            const int ready =
                waitFor(tty->fd(), POLLIN, stop, static_cast<int>(kProbeReadTimeout.count()));
            if (ready < 0) return stop.isSet() ? ProbeResult::Stopped : ProbeResult::NoDevice;
            if (ready > 0) got = readArrived(tty->fd(), reply);
        }
        if (protocol::startsWithAcknowledge({reply.data(), got})) return ProbeResult::Found;
    }
    return ProbeResult::NoDevice;
}

} // namespace kvr::portscan
