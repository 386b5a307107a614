#pragma once
// The touch service's own line to the drivers: controller names, the two control devices and
// the few control codes and controller commands the service sends itself.
//
// Every thread of the service opens its own DriverLink and closes it when done, so a long
// command exchange on one thread never holds up another. A DriverLink is one connection to
// the driver: the controller watcher keeps one per driver for as long as the driver serves,
// registers the touch events through it (the driver keeps them while it stays open) and learns
// from its end that the driver has gone.
//
// A command exchange, as the service makes it (frame = SOH, text, CR):
//
//   flush 0x220040 [unit]  ->  write 0x220034 [unit, frame]  ->  sleep 50 ms
//   ->  read 0x220038 [unit], up to 8 bytes  ->  passed when >= 3 bytes came and byte 1 is '0'
//
// repeated up to the command's number of attempts.

#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"
#include "platform/ipc/event.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::touchsvc {

// ---- the control codes the service sends: the drivers' control interface -------------------
using namespace ::kvr::control;

// The driver's report mode in which the controller sends point reports ("MP").
inline constexpr std::uint8_t kButtonReportMode = 3;
// What the last-touched query answers when no device raised the notification.
inline constexpr std::uint8_t kNoDevice = kNoLastDevice;

// ---- controllers ------------------------------------------------------------------------------
enum class Bus : std::uint8_t { Serial, Usb };

inline constexpr std::string_view kSerialPrefix = "RS232_DEVICE";
inline constexpr std::string_view kUsbPrefix = "USB_DEVICE";
inline constexpr std::uint8_t kSerialUnits = 8;
inline constexpr std::uint8_t kUsbUnits = 4;

struct Unit {
    Bus bus = Bus::Serial;
    std::uint8_t number = 0;
    bool operator==(const Unit&) const = default;
};

// "RS232_DEVICE"n (n 0..7) or "USB_DEVICE"n (n 0..3), the number in decimal with nothing after
// it. Anything else (another prefix, no digits, a unit the driver does not have) names no unit:
// the service passes it over instead of indexing its tables with it.
std::optional<Unit> parseControllerName(std::string_view name);
std::string controllerName(const Unit& unit);
// "\\.\KvrRs232D" or "\\.\KvrUsbMgr".
std::string_view deviceName(Bus bus);

// ---- commands ---------------------------------------------------------------------------------
struct Command {
    std::string_view text;
    int attempts;
};
inline constexpr Command kStreamCommand{"MS", 10};  // report mode, stream
inline constexpr Command kPointCommand{"MP", 10};   // report mode, point (driver mode 3)
inline constexpr Command kSilenceCommand{"MI", 10}; // reports off
inline constexpr Command kUsbStartCommand{"iH1", 3};

inline constexpr std::chrono::milliseconds kReplyWait{50};
inline constexpr std::uint32_t kReplyReadBytes = 8;

// The acknowledgement test of the service's exchanges: at least 3 bytes, the second '0'.
bool acknowledged(const std::vector<std::uint8_t>& reply);

// ---- one open control device -------------------------------------------------------------------
class DriverLink {
public:
    // Nothing when no driver serves the device.
    static std::optional<DriverLink> open(Bus bus);

    [[nodiscard]] Bus bus() const { return bus_; }
    // True once the driver has closed the connection (stopped, crashed, restarted).
    [[nodiscard]] bool ended() const { return device_.ended(); }
    [[nodiscard]] const ipc::ControlConnection& connection() const { return device_; }

    // One request; true when the driver completed it with success. `reply` gets the bytes that
    // came back (resized to their number).
    bool request(std::uint32_t code, const std::vector<std::uint8_t>& in, std::uint32_t outLength,
                 std::vector<std::uint8_t>* reply = nullptr, int passFd = -1);

    // A per-controller event (touch-down or touch-up): unit, then the handle value; the
    // descriptor travels along. A driver that already holds one for the unit refuses it.
    bool registerUnitEvent(std::uint32_t code, std::uint8_t unit, const ipc::Event& event);
    // A driver-wide event (replaces the driver's earlier one).
    bool registerGlobalEvent(std::uint32_t code, const ipc::Event& event);

    // The command exchange above; true at the first acknowledged attempt.
    bool sendCommand(std::uint8_t unit, const Command& command);
    // "MP" when the driver runs the unit in report mode 3 (exactly one byte), else "MS".
    bool sendReportMode(std::uint8_t unit);
    bool silence(std::uint8_t unit) { return sendCommand(unit, kSilenceCommand); }

    // The unit that raised the driver-wide touch-down notification; nothing unless exactly
    // one byte came back.
    std::optional<std::uint8_t> lastDownDevice();
    // Takes the driver-wide touch-up record (which also clears the touch-down record, so both
    // notifications fire again).
    void releaseLastTouch();

private:
    DriverLink(Bus bus, ipc::ControlConnection device) : bus_(bus), device_(std::move(device)) {}
    Bus bus_;
    ipc::ControlConnection device_;
};

} // namespace kvr::touchsvc
