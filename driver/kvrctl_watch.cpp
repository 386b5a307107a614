#include "driver/kvrctl_watch.h"

#include "platform/common/unique_fd.h"
#include "platform/desktop/command_line.h"
#include "platform/ipc/control_device.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <strings.h>
#include <sys/signalfd.h>
#include <sys/socket.h>

namespace kvr::kvrctl {
namespace {

using control::WatchHeader;
using control::WatchKind;
using control::WatchPointer;

std::string clockText(std::uint64_t ns) {
    const auto seconds = static_cast<time_t>(ns / 1000000000u);
    tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06u", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<unsigned>(ns % 1000000000u / 1000u));
    return text;
}

std::string buttonText(std::uint16_t flags) {
    struct Name {
        std::uint16_t flag;
        const char* text;
    };
    constexpr Name kNames[] = {{0x0001, " left-down"},
                               {0x0002, " left-up"},
                               {0x0004, " right-down"},
                               {0x0008, " right-up"}};
    std::string text;
    for (const Name& n : kNames)
        if ((flags & n.flag) != 0) text += n.text;
    return text;
}

} // namespace

std::string formatWatchRecord(const std::uint8_t* message, std::size_t length,
                              std::string_view prefix) {
    WatchHeader header{};
    if (length < sizeof header) return {};
    std::memcpy(&header, message, sizeof header);
    if (sizeof header + header.length != length) return {};
    const std::uint8_t* payload = message + sizeof header;
    std::string line = clockText(header.timeNs) + " " + std::string(prefix) +
                       (header.unit == control::kWatchEveryUnit ? "?" : std::to_string(header.unit));
    switch (header.kind) {
    case WatchKind::Raw: {
        line += " raw";
        for (std::size_t i = 0; i < header.length; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", payload[i]);
            line += hex;
        }
        return line;
    }
    case WatchKind::Pointer: {
        if (header.length != sizeof(WatchPointer)) return {};
        WatchPointer p{};
        std::memcpy(&p, payload, sizeof p);
        return line + " pointer " + std::to_string(p.x) + "," + std::to_string(p.y) +
               buttonText(p.buttonFlags);
    }
    case WatchKind::Dropped: {
        std::uint32_t count = 0;
        if (header.length != sizeof count) return {};
        std::memcpy(&count, payload, sizeof count);
        return line + " dropped " + std::to_string(count) + " (kvrctl did not keep up)";
    }
    }
    return {};
}

int watchDriver(const std::string& device, std::uint8_t unit) {
    const char* program = "kvrctl";
    // Ctrl+C and SIGTERM end the watch through a signalfd, so the loop below sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    if (::sigprocmask(SIG_BLOCK, &stop, nullptr) != 0)
        return cli::failure(program, "cannot take signals");
    const UniqueFd signals(::signalfd(-1, &stop, SFD_CLOEXEC));

    auto connection = ipc::ControlConnection::open(device);
    if (!connection)
        return cli::failure(program, "cannot open \\\\.\\" + device + " (is the driver running?)");
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return cli::failure(program,
                            std::string("cannot make a socket pair: ") + std::strerror(errno));
    const UniqueFd mine(pair[0]);
    UniqueFd theirs(pair[1]);
    std::uint32_t status = 0, returned = 0;
    const bool ok = connection->ioctl(control::IOCTL_KVR_WATCH, &unit, 1, nullptr, 0, &returned,
                                      theirs.get(), &status);
    theirs.reset(); // the driver holds its own copy now
    if (!ok) {
        char text[96];
        std::snprintf(text, sizeof text, "the driver refused the watch (status 0x%08X%s)", status,
                      status == ipc::status::kAccessDenied
                          ? ": only the control device's group may watch"
                          : "");
        return cli::failure(program, text);
    }
    const std::string prefix =
        ::strcasecmp(device.c_str(), "KvrUsbMgr") == 0 ? "USB_DEVICE" : "RS232_DEVICE";
    std::fprintf(stderr, "kvrctl: watching %s%s; Ctrl+C ends\n", device.c_str(),
                 unit == control::kWatchEveryUnit ? " (every unit)"
                                                 : (" unit " + std::to_string(unit)).c_str());
    std::uint8_t message[sizeof(WatchHeader) + control::kMaxWatchPayload + 1];
    for (;;) {
        pollfd fds[3] = {
            {mine.get(), POLLIN, 0}, {connection->fd(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return cli::failure(program, std::string("waiting failed: ") + std::strerror(errno));
        }
        if (fds[2].revents != 0) return cli::kExitOk;
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n = ::recv(mine.get(), message, sizeof message, MSG_DONTWAIT);
            if (n > 0) {
                const std::string line =
                    formatWatchRecord(message, static_cast<std::size_t>(n), prefix);
                if (!line.empty() && std::printf("%s\n", line.c_str()) < 0) return cli::kExitOk;
                std::fflush(stdout);
                continue;
            }
        }
        if (fds[0].revents != 0 || fds[1].revents != 0 || connection->ended())
            return cli::failure(program, "the driver stopped serving \\\\.\\" + device);
    }
}

} // namespace kvr::kvrctl
