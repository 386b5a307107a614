#pragma once
// The bench for the touch API library: the real driver daemon (serial role, and the USB role
// when asked) with the trace pointer sink, emulated controllers on ptys linked as COMn / usbN,
// and helpers to reach them through the library. Each test process has its own state and
// runtime folders, so every bench starts from an empty registry.
//
// Built on the driver's test harness (Daemon, Sim, Client); Sim is the kvrsim controller
// model run in-process on its pty, so a test can read every frame the controller received
// (Sim::frameTexts) and drive it with scenario lines (Sim::play).

#include "tests/integration/driver/driver_harness.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kvr::test::tsapi {

using driver::Client;
using driver::Daemon;
using driver::Sim;

// The controller key where the drivers list present controllers.
inline constexpr const char* kControllerKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr";

class Bench {
public:
    struct Options {
        bool serial = true; // start KvrRs232 in the serial role
        bool usb = false;   // and/or in the USB role
        std::vector<std::string> serialArgs;
        std::vector<std::string> usbArgs;
    };
    Bench();
    explicit Bench(Options options);
    // Stops the daemons first (they let go of the lines), then the controllers.
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Every daemon asked for is serving its control socket.
    [[nodiscard]] bool ready() const;
    // Why not, for an assertion message (the daemons' stderr).
    [[nodiscard]] std::string diagnostics() const;
    Daemon* serialDaemon() { return serial_.get(); }
    Daemon* usbDaemon() { return usb_.get(); }
    // Ends the serial daemon (if any) with `signal`, SIGKILL standing for a crash, and starts
    // a new one (also when the bench had none yet). True when the new one serves.
    bool restartSerialDaemon(int signal);

    // An emulated controller on a pty linked as COM`com`, connected as serial unit `unit`
    // with control code 11 (9600 baud) when `connect`, and then greeted by the driver (see
    // connect). Null when any step fails.
    Sim* addSerial(std::uint8_t unit, std::uint32_t com,
                   emu::ControllerProfile profile = Sim::defaultProfile(), bool connect = true);
    // An emulated controller on a pty linked as usb`unit`; the USB role finds it by itself.
    // Waits until it is greeted and its "USB_DEVICE"n marker is written. Null on failure.
    Sim* addUsb(std::uint8_t unit, emu::ControllerProfile profile = Sim::defaultProfile());
    // Connects serial unit `unit` to COM`com` (code 11) until the driver's greeting had the
    // whole replies of `sim` (connected again when they came too late for its waits).
    bool connect(std::uint8_t unit, std::uint32_t com, Sim& sim);

    // The controller added as serial unit `unit` / USB unit `unit` (null when none).
    Sim* serialSim(std::uint8_t unit);
    Sim* usbSim(std::uint8_t unit);

private:
    Options options_;
    std::unique_ptr<Daemon> serial_;
    std::unique_ptr<Daemon> usb_;
    std::map<std::uint8_t, std::unique_ptr<Sim>> serialSims_;
    std::map<std::uint8_t, std::unique_ptr<Sim>> usbSims_;
};

// Marker values under the controller key, in this order (a test's own registry).
bool writeMarkers(const std::vector<std::string>& names);
// Removes the controller key with every marker.
bool clearMarkers();

// The frame texts a controller received from position `from` on (from frameTexts()).
std::vector<std::string> framesSince(const Sim& sim, std::size_t from);
// How often `text` is among the frames a controller received from position `from` on.
std::size_t countFrames(const Sim& sim, const std::string& text, std::size_t from = 0);

// Whether a controller received the frames of `expected` from a sender that writes a command
// again when its reply has not come within the sender's fixed wait (as a reply may not, on a
// loaded machine): the same frames in the same order, where each run of one frame repeated
// comes at least as often as expected and at most `attempts` times as often.
::testing::AssertionResult sameExchanges(const std::vector<std::string>& got,
                                         const std::vector<std::string>& expected,
                                         std::size_t attempts = 4);

// A controller opened through the library (GetExistControllers, then OpenController by name),
// closed with CloseController when it goes away.
class OpenedController {
public:
    explicit OpenedController(const std::string& name, bool enumerate = true);
    ~OpenedController();
    OpenedController(const OpenedController&) = delete;
    OpenedController& operator=(const OpenedController&) = delete;
    [[nodiscard]] std::int32_t handle() const { return handle_; }
    [[nodiscard]] bool ok() const { return handle_ != -1; }

private:
    std::int32_t handle_ = -1;
};

} // namespace kvr::test::tsapi
