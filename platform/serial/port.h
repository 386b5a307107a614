#pragma once
// One open serial port: a tty in raw mode, read and written with poll(2).
//
// It stands in for the system serial driver and its requests:
//   set baud rate        -> setBaudRate()      (termios speed)
//   set line control     -> setLineControl()   (CSIZE, PARENB/PARODD/CMSPAR, CSTOPB)
//   set timeouts         -> setTimeouts() and readPerTimeouts(), write()
//   read / write         -> read(), readPerTimeouts() / write()
//   purge                -> discard()          (tcflush)
//
// Reads block in poll on the tty and, when given, a stop descriptor (an eventfd): a read
// returns as soon as bytes are there, a stop ends it at once, and an idle port costs no
// wake-ups. A hang-up or a removed adapter is reported as Disconnected, not as an error.
// Writes are serialised per port: one writer at a time, every byte written before the next
// writer starts. The port is opened without becoming the controlling terminal and never
// blocks in open(); descriptors are close-on-exec.

#include "platform/common/unique_fd.h"
#include "platform/ipc/event.h"
#include "platform/serial/line.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <termios.h>

namespace kvr::serial {

inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFF;

// The serial driver's timeouts record, in milliseconds, in its order.
struct Timeouts {
    std::uint32_t readInterval = kMaxDword;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};
// Reads return at once with what is there (the port's setting after open).
inline constexpr Timeouts kReturnImmediately{kMaxDword, 0, 0, 0, 0};

// How long a write may take when the timeouts set none: a port whose far end never drains
// must not hold its writers for ever.
inline constexpr std::chrono::milliseconds kDefaultWriteLimit{5000};

struct OpenOptions {
    std::uint32_t baudRate = 9600;
    LineControl line{};
    // Refuse the port while another Port (in any process) has it open, as the serial driver
    // refuses a second opener.
    bool exclusive = true;
    // Also refuse a tty another program has made exclusive (TIOCEXCL; root could open it all
    // the same), and make it exclusive while this Port holds it.
    bool exclusiveTty = false;
    // Put the line settings found at open back when the Port goes (a probe that must leave
    // the port as it found it).
    bool restoreOnClose = false;
    // Ask a USB adapter to pass received bytes on at once (best effort, see lowerReceiveLatency).
    bool lowLatency = true;
};

enum class IoStatus {
    Ok,           // bytes moved (a read: at least one byte, or all that were asked for)
    TimedOut,     // the time ran out; `count` tells what was moved before
    Stopped,      // the stop descriptor was set; nothing was consumed after it was seen
    Disconnected, // hang-up or device removed (the driver's "device not connected")
    Failed,       // any other error; `error` holds errno
};

struct IoResult {
    IoStatus status = IoStatus::Failed;
    std::size_t count = 0;
    int error = 0;
};

enum class Queue { Input, Output, Both };

const char* ioStatusText(IoStatus status);

class Port {
public:
    // Opens a tty by path (a dosdevices link, /dev/ttyUSB0, a pty) and sets it up raw at the
    // given line settings. Nothing, with `error` filled, when that cannot be done.
    static std::unique_ptr<Port> open(const std::filesystem::path& device,
                                      const OpenOptions& options = {}, Error* error = nullptr);
    // Opens COMn, \\.\COMn or \DosDevices\COMn through the dosdevices mapping.
    static std::unique_ptr<Port>
    openDosName(std::string_view dosName, const OpenOptions& options = {}, Error* error = nullptr);

    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    ~Port(); // with restoreOnClose: the settings found at open, and the tty no longer exclusive

    // Any rate that termios knows (50 .. 4000000); others fail with EINVAL.
    bool setBaudRate(std::uint32_t baudRate, Error* error = nullptr);
    bool setLineControl(const LineControl& line, Error* error = nullptr);
    void setTimeouts(const Timeouts& timeouts);
    [[nodiscard]] Timeouts timeouts() const;

    // Waits until bytes are there, then returns all that fit (Ok), or until `stopFd` is
    // readable (Stopped, checked first), or until `timeout` passes (TimedOut, no bytes; no
    // timeout: waits for ever). Bytes that came before a hang-up are returned first; the read
    // after them reports Disconnected. `stopFd` -1: no stop descriptor.
    IoResult read(std::span<std::uint8_t> buffer, int stopFd = -1,
                  std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    IoResult read(std::span<std::uint8_t> buffer, const ipc::Event& stop,
                  std::optional<std::chrono::milliseconds> timeout = std::nullopt) {
        return read(buffer, stop.fd(), timeout);
    }

    // A read that follows the timeouts record as the serial driver does:
    //  - interval MAXDWORD, multiplier and constant 0: return at once with what is there;
    //  - interval MAXDWORD, multiplier MAXDWORD, 0 < constant < MAXDWORD: return as soon as
    //    a byte is there, or empty (TimedOut) after `constant` ms;
    //  - otherwise: fill the buffer, ending early (TimedOut, with the bytes so far) when the
    //    total time (multiplier x size + constant, 0 and 0 = none) passes or, once a byte has
    //    come, when the line is silent for `interval` ms (0 or MAXDWORD = none).
    IoResult readPerTimeouts(std::span<std::uint8_t> buffer, int stopFd = -1);

    // Writes every byte, holding the port's write lock throughout. Ends early with the count
    // written on a stop (Stopped), a hang-up (Disconnected), an error, or when the write time
    // (multiplier x size + constant; none set: kDefaultWriteLimit) passes (TimedOut).
    IoResult write(std::span<const std::uint8_t> bytes, int stopFd = -1);

    // Throws away what was received and not read yet, what is waiting to be sent, or both.
    bool discard(Queue queue, Error* error = nullptr);

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] int fd() const { return fd_.get(); }

private:
    Port(UniqueFd fd, std::filesystem::path path) : fd_(std::move(fd)), path_(std::move(path)) {}
    // What is put back when the Port goes.
    struct Restore {
        std::optional<::termios> settings; // the line settings found at open
        bool exclusiveTty = false;         // TIOCEXCL was set by this Port
    };

    IoResult readSome(std::span<std::uint8_t> buffer, int stopFd,
                      std::optional<std::chrono::steady_clock::time_point> until);

    UniqueFd fd_;
    std::filesystem::path path_;
    mutable std::mutex timeoutsMutex_;
    Timeouts timeouts_ = kReturnImmediately;
    std::mutex writeMutex_; // one writer at a time
    std::unique_ptr<Restore> restore_;
};

// Whether this user could open the tty at all, asked without opening it (a port the driver
// holds cannot be opened to find out): PermissionDenied, Gone, or None (opening may still
// find it busy or no serial port).
OpenFailure accessProblem(const std::filesystem::path& device);

// Who holds the tty locked (flock), as "NAME (pid N)", read from /proc/locks; empty when no
// process can be named.
std::string portHolder(const std::filesystem::path& device);

// The group whose members may open the tty ("dialout"); empty when it has none.
std::string portGroup(const std::filesystem::path& device);

// Lowers the receive latency of a USB-serial adapter: sets ASYNC_LOW_LATENCY (TIOCSSERIAL)
// and, for FTDI adapters, writes 1 to <sysClassTty>/<tty name>/device/latency_timer when it
// is writable and above 1. Silently skips whatever the tty or the system does not allow.
struct LatencyResult {
    bool lowLatencyFlag = false; // ASYNC_LOW_LATENCY is set
    bool latencyTimer = false;   // the latency timer is 1 ms
};
LatencyResult lowerReceiveLatency(int fd, const std::filesystem::path& device,
                                  const std::filesystem::path& sysClassTty = "/sys/class/tty");

} // namespace kvr::serial
