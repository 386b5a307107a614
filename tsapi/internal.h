#pragma once
// What every group of exports of libtsapi stands on: the controller table, the handle scheme,
// the per-process control devices, device calls, the raw channel and the command exchange with
// a controller.
//
// Everything here is per-process state used from one thread at a time: no lock, no thread.
// Nothing here throws on its own account; exports still wrap their bodies in guarded() so that
// an allocation failure never crosses the library's boundary.

#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"
#include "protocol/replies.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::tsapi {

// ---- control codes: the drivers' control interface ---------------------------------------

using namespace ::kvr::control;

// ---- registry --------------------------------------------------------------------------------

// Where the drivers list the present controllers (marker values "RS232_DEVICE"n, "USB_DEVICE"n).
inline constexpr std::string_view kControllerKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Kvr";
// The machine-wide application settings.
inline constexpr std::string_view kAppKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\KvrApp";

// ---- controllers and handles -----------------------------------------------------------------

inline constexpr std::string_view kSerialPrefix = "RS232_DEVICE";
inline constexpr std::string_view kUsbPrefix = "USB_DEVICE";

inline constexpr std::int32_t kSerialHandleBase = 100;
inline constexpr std::int32_t kUsbHandleBase = 200;
inline constexpr std::int32_t kInvalidHandle = -1;
inline constexpr std::uint8_t kSerialUnits = 8; // handles 100..107
inline constexpr std::uint8_t kUsbUnits = 4;    // handles 200..203

inline constexpr std::size_t kTableEntries = 8;    // names kept by GetExistControllers
inline constexpr std::size_t kNameFieldBytes = 20; // one name and its zero, zero-padded

enum class DriverKind : std::uint8_t { Serial, Usb };

// What a valid handle names: which driver, and the unit byte that starts its requests.
struct Controller {
    DriverKind kind = DriverKind::Serial;
    std::uint8_t unit = 0;
};

// 100..107 -> serial unit 0..7, 200..203 -> USB unit 0..3; nothing for any other value.
std::optional<Controller> resolveHandle(std::int32_t handle) noexcept;
// "\\.\KvrRs232D" or "\\.\KvrUsbMgr".
std::string_view deviceName(DriverKind kind) noexcept;

// The per-process controller table that GetExistControllers fills.
struct ControllerTable {
    std::array<std::array<char, kNameFieldBytes>, kTableEntries> names{};
    std::uint8_t count = 0; // matches seen by the last enumeration, at most 8
};
ControllerTable& controllerTable() noexcept;

// The per-process open control device of one kind and how many opens of this process use it.
// The device stays open while any OpenController of its kind has not been closed.
struct DeviceState {
    std::optional<ipc::ControlDevice> device; // empty: not open
    // OpenController calls of this kind not yet closed. Counted without wrapping: a count
    // that wrapped at 256 would close a device that opens still use.
    std::uint32_t openCount = 0;
};
DeviceState& deviceState(DriverKind kind) noexcept;

// Opens a fresh connection to a control device (for driver-wide requests that go to every
// driver present, whether or not this process has opened a controller on it).
std::optional<ipc::ControlDevice> openControlDevice(DriverKind kind);

// ---- device calls ----------------------------------------------------------------------------

// One buffered request, as DeviceIoControl: true when the driver completed it with success;
// `*returned` (may be null) the reply bytes copied to `out`. `eventFd` >= 0 travels along
// (an event being registered).
bool deviceIoControl(ipc::ControlDevice& device, std::uint32_t code, const void* in,
                     std::uint32_t inLength, void* out, std::uint32_t outLength,
                     std::uint32_t* returned, int eventFd = -1);
// The same on this process's open device of `kind`; false (nothing returned) when it is not
// open, as a call on an invalid device handle fails.
bool deviceIoControl(DriverKind kind, std::uint32_t code, const void* in, std::uint32_t inLength,
                     void* out, std::uint32_t outLength, std::uint32_t* returned, int eventFd = -1);

// A per-controller request: the unit byte, then `payload`, on the controller's device.
bool controllerRequest(const Controller& controller, std::uint32_t code,
                       std::span<const std::uint8_t> payload, void* out, std::uint32_t outLength,
                       std::uint32_t* returned, int eventFd = -1);
// A per-controller request whose reply is one byte; true when exactly one byte came back and it
// is 1 (the library's "acknowledged").
bool acknowledgedRequest(const Controller& controller, std::uint32_t code,
                         std::span<const std::uint8_t> payload = {}, int eventFd = -1);
// A per-controller request with a reply of `replyLength` bytes; the bytes that came back (none
// when the call failed).
std::vector<std::uint8_t> replyRequest(const Controller& controller, std::uint32_t code,
                                       std::span<const std::uint8_t> payload,
                                       std::uint32_t replyLength);

// Little-endian 32-bit value appended to a request.
void appendDword(std::vector<std::uint8_t>& bytes, std::uint32_t value);
// Little-endian 32-bit value at `at`; 0 when the bytes are not there.
std::uint32_t dwordAt(std::span<const std::uint8_t> bytes, std::size_t at) noexcept;

// ---- raw channel -----------------------------------------------------------------------------

// Longest write the library makes (the unit byte not counted).
inline constexpr std::size_t kMaxWriteBytes = 255;

// Pass-through write of `bytes` to the controller. False for no bytes, more than 255 bytes,
// or a failed device call.
bool writeBuffer(const Controller& controller, std::span<const std::uint8_t> bytes);
// Longest read the drivers serve in one call.
inline constexpr std::size_t kMaxReadBytes = kReadBufferMaxBytes;

// Up to out.size() (at most 512) reply bytes from the driver's reply queue, oldest first;
// the count delivered.
std::uint32_t readBuffer(const Controller& controller, std::span<std::uint8_t> out);
// Reply bytes waiting in the driver; 0 unless exactly 4 bytes came back.
std::uint32_t readLength(const Controller& controller);
// Empties the driver's reply queue; the device call's success.
bool flushReadBuffer(const Controller& controller);

// ---- command exchange ------------------------------------------------------------------------

inline constexpr std::chrono::milliseconds kPreambleWait{30};
inline constexpr std::chrono::milliseconds kReplyWait{50};
// A pending length this large means the queue holds a touch stream, not a reply: flush and
// try again.
inline constexpr std::uint32_t kOverfullQueueBytes = 255;
inline constexpr std::size_t kLargeReplyBuffer = 256; // 4-attempt exchanges
inline constexpr std::size_t kSmallReplyBuffer = 128; // 3-attempt exchanges

// 0x01, the text, 0x0D.
std::vector<std::uint8_t> commandFrame(std::string_view text);

// Sleeps on the steady clock.
void sleepFor(std::chrono::milliseconds duration);

// The "Z" preamble before a get-parameter sequence: write 0x01 'Z' 0x0D, sleep 30 ms, read
// nothing.
void sendPreamble(const Controller& controller);

enum class ReplyTest {
    Value,                // n >= 6, SOH at n-6, CR at n-1; the word from n-5..n-2
    Acknowledgement,      // n >= 3, SOH '0' CR at the end
    ShortAcknowledgement, // n >= 3, '0' at n-2
};

struct ExchangeRules {
    int attempts = 4;
    ReplyTest test = ReplyTest::Value;
    std::size_t replyBufferBytes = kLargeReplyBuffer;
    // Flush and count the attempt as failed when 255 bytes or more are waiting.
    bool skipOverfullQueue = true;
};
// The exchanges of the settings exports: 4 attempts, large buffer, the 255-byte rule; or 3
// attempts reading what is pending into 128 bytes.
inline constexpr ExchangeRules kFourAttemptRules{4, ReplyTest::Value, kLargeReplyBuffer, true};
inline constexpr ExchangeRules kThreeAttemptRules{3, ReplyTest::Value, kSmallReplyBuffer, false};

inline constexpr ExchangeRules withTest(ExchangeRules rules, ReplyTest test) {
    rules.test = test;
    return rules;
}

struct ExchangeResult {
    bool passed = false;
    int attemptsMade = 0;
    std::uint32_t pendingLength = 0; // what ReadLength reported in the last attempt
    std::vector<std::uint8_t> reply; // the bytes read in the last attempt
    protocol::ParameterWord word;    // value replies: the word (library hex reading)
};

// Up to `rules.attempts` of: FlushReadBuffer; WriteBuffer(frame); sleep 50 ms; ReadLength;
// (255-byte rule); ReadBuffer of the pending length (at most the buffer size); the reply test.
// Stops at the first passing attempt.
ExchangeResult exchange(const Controller& controller, std::span<const std::uint8_t> frame,
                        const ExchangeRules& rules);
// The reply test alone.
bool replyPasses(ReplyTest test, std::span<const std::uint8_t> reply,
                 protocol::ParameterWord* word = nullptr);

// ---- texts and arguments ---------------------------------------------------------------------

// Copies the characters of `text` without a terminating zero: 1, or 0 (buffer untouched) when
// the buffer is null or the text is longer than `length`.
int copyTextCharacters(std::string_view text, char* buffer, std::uint8_t length) noexcept;

// A pointer-sized argument holding a handle or a descriptor as an integer.
std::int32_t handleFromPointer(const void* value) noexcept;
int descriptorFromPointer(const void* value) noexcept;

// ---- export boundary -------------------------------------------------------------------------

// Runs an export's body; any exception becomes the export's failure value.
template <typename Result, typename Body> Result guarded(Result failure, Body&& body) noexcept {
    try {
        return static_cast<Result>(body());
    } catch (...) {
        return failure;
    }
}

} // namespace kvr::tsapi
