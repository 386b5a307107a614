#pragma once
// The driver daemon as its clients see it: a KvrRs232 process with the trace sink, emulated
// controllers on ptys linked as COMn (or usbN), and control requests over the socket.

#include "emulator/pty_emulator.h"
#include "platform/ipc/control_device.h"
#include "tests/support/child_process.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvr::test::driver {

// One line of the trace sink.
struct TraceRecord {
    std::int64_t timeUs = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint16_t flags = 0;
    bool operator==(const TraceRecord& o) const { return x == o.x && y == o.y && flags == o.flags; }
};

// A running daemon with the trace sink; stopped (SIGTERM) when destroyed.
class Daemon {
public:
    // Starts KvrRs232 (args after the trace option) and waits until its control socket is
    // there. `usb` starts the USB role; `trace` replaces the trace file of its own.
    explicit Daemon(bool usb = false, std::vector<std::string> extraArgs = {},
                    std::filesystem::path trace = {});
    ~Daemon();

    [[nodiscard]] bool ready() const { return ready_; }
    ChildProcess& process() { return *process_; }
    [[nodiscard]] const std::filesystem::path& tracePath() const { return trace_; }
    [[nodiscard]] std::filesystem::path socketPath() const;
    std::vector<TraceRecord> records() const;
    // Waits until at least `count` records are in the trace; the records then.
    std::vector<TraceRecord>
    waitRecords(std::size_t count,
                std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;

private:
    std::string name_;
    std::filesystem::path trace_;
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
};

// An emulated controller on a pty linked as `link` ("COM1", "usb0").
class Sim {
public:
    explicit Sim(const std::string& link, emu::ControllerProfile profile = defaultProfile());
    static emu::ControllerProfile defaultProfile();
    static emu::ControllerProfile profile(const std::string& name);

    [[nodiscard]] bool ok() const { return pty_ != nullptr; }
    // Plays scenario lines and waits until they have been sent.
    bool play(const std::vector<std::string>& lines);
    // The texts of the frames received so far ("Z", "Uu", "GP9E", ...), and with times.
    std::vector<std::string> frameTexts() const;
    std::vector<emu::FrameRecord> frames() const;
    // Waits until frame text `text` has been received `count` times.
    bool waitFrame(const std::string& text, std::size_t count = 1,
                   std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;
    emu::PtyEmulator& pty() { return *pty_; }

private:
    std::unique_ptr<emu::PtyEmulator> pty_;
};

// A control-device client with the request layouts of the codes the tests use.
class Client {
public:
    explicit Client(const std::string& device = "KvrRs232D");
    [[nodiscard]] bool ok() const { return dev_.has_value(); }

    struct Result {
        std::uint32_t status = 0xFFFFFFFF;
        std::vector<std::uint8_t> reply;
    };
    Result ioctl(std::uint32_t code, const std::vector<std::uint8_t>& in, std::uint32_t outLength,
                 int passFd = -1);

    // Code 11: COM port, baud rate, and the packet format byte when given. True when acked.
    bool connect(std::uint8_t device, std::uint32_t com, std::uint32_t baud = 9600,
                 std::optional<std::uint8_t> format = std::nullopt);
    std::uint32_t disconnect(std::uint8_t device);                                    // code 12
    Result reopen(std::uint8_t device);                                               // code 21
    std::uint32_t write(std::uint8_t device, const std::vector<std::uint8_t>& bytes); // code 13
    std::vector<std::uint8_t> read(std::uint8_t device, std::uint32_t max = 512);     // code 14
    std::uint32_t readLength(std::uint8_t device);                                    // code 15
    bool setReportMode(std::uint8_t device, std::uint8_t mode);                       // code 17
    std::uint8_t currentComPort(std::uint8_t device);                                 // code 31

private:
    std::optional<ipc::ControlDevice> dev_;
};

// What the driver had of the controller's replies when the waits of a greeting of `device`
// ended (its debug log), one entry per greeting in order: the identification and the display
// reply byte counts.
struct Greeting {
    std::size_t identification = 0;
    std::size_t display = 0;
};
std::vector<Greeting> greetingsLogged(const std::string& daemonLog, std::uint8_t device);
// Whether a greeting had the whole replies that `profile` gives. The driver's waits are fixed:
// a reply that a loaded machine delays past them is taken as missing, and the driver falls back
// as for a silent controller (M packets, default display partition).
bool greetedInTime(const Greeting& greeting, const emu::ControllerProfile& profile);
// Runs `connect` (a request that makes the driver `daemon` greet `device`: code 11 or 21)
// until the greeting had the whole replies of `profile`, disconnecting (code 12) between
// tries, as a user would connect again. False when `connect` fails or no greeting is in time.
bool connectUntilGreeted(const ChildProcess& daemon, Client& client, std::uint8_t device,
                         const emu::ControllerProfile& profile,
                         const std::function<bool()>& connect);

void putDword(std::vector<std::uint8_t>& buf, std::uint32_t value);
std::uint32_t getDword(const std::vector<std::uint8_t>& buf, std::size_t at);

// Pointer units of a calibrated 12-bit coordinate in the default partition entry.
inline std::int32_t pointerOf(std::int32_t coord12) {
    return 65535 * coord12 / 4095;
}

} // namespace kvr::test::driver
