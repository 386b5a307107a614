#pragma once
// Service controls: the stand-in for ControlService on a running service.
//
// A running service listens on the SOCK_SEQPACKET Unix socket $KVR_RUNTIME_DIR/svc/<name>
// (<name> as the service registered it, e.g. "LumarconTouch Service"). A control is one
// request message on a fresh connection, answered by one reply message; then either side
// closes. Both are fixed-size records of 32-bit words in the machine's native byte order:
//
//   request   0         4          8
//             +---------+----------+
//             | magic   | control  |                                  kRequestBytes = 8
//             +---------+----------+
//   reply     0         4          8
//             +---------+----------+-----------------------------------------------+
//             | magic   | error    | status record: type, state, accepted controls,|
//             |         |          | exit code, specific exit code, checkpoint,    |
//             |         |          | wait hint (7 words)                           |
//             +---------+----------+-----------------------------------------------+
//                                                                    kReplyBytes = 36
//
// magic is kWireMagic in both directions. error is 0 when the service took the control
// (handed it to its handler), or the Windows error the service refuses it with:
// kErrorInvalidServiceControl (a code it does not accept in its state),
// kErrorServiceCannotAcceptControl (it is starting or stopping) or kErrorAccessDenied (the
// sender may not send that control). The status record is the
// service's current status after the control, as Windows' SERVICE_STATUS.
//
// The client never waits long: a missing or dead socket fails at once, and a service that
// accepts but does not answer within the time limit counts as not answering. Registration in
// the registry is not needed to receive controls; the socket is what makes a service
// reachable (so a service run in the foreground by systemd is reached the same way).
//
// No call throws.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace kvr::svc {

inline constexpr std::uint32_t kWireMagic = 0x4356534B; // "KSVC" read as a little-endian word
inline constexpr std::size_t kRequestBytes = 8;
inline constexpr std::size_t kReplyBytes = 36;

// Standard control codes (Windows' SERVICE_CONTROL_*); user controls are 128 to 255.
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;
inline constexpr std::uint32_t kFirstUserControl = 128;
inline constexpr std::uint32_t kLastUserControl = 255;

// Service states (Windows' SERVICE_*).
inline constexpr std::uint32_t kStateStopped = 1;
inline constexpr std::uint32_t kStateStartPending = 2;
inline constexpr std::uint32_t kStateStopPending = 3;
inline constexpr std::uint32_t kStateRunning = 4;
inline constexpr std::uint32_t kStateContinuePending = 5;
inline constexpr std::uint32_t kStatePausePending = 6;
inline constexpr std::uint32_t kStatePaused = 7;

// Results (Windows' error codes, as ControlService reports them).
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
inline constexpr std::uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr std::uint32_t kErrorServiceCannotAcceptControl = 1061;
inline constexpr std::uint32_t kErrorServiceNotActive = 1062;
inline constexpr std::uint32_t kErrorInvalidData = 13; // a reply that breaks the format

struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

struct ControlResult {
    std::uint32_t error = kErrorServiceNotActive; // kErrorSuccess when delivered
    ServiceStatus status;                         // filled when the service answered
    [[nodiscard]] bool delivered() const { return error == kErrorSuccess; }
};

// How long a control waits for the service's answer by default. Short: callers (the library's
// setters) must never hang on a service that is stuck.
inline constexpr std::chrono::milliseconds kDefaultControlTimeout{2000};

// The socket a service named `name` listens on; nothing for a name that cannot be a file name
// (empty, '/', NUL, "." or "..", longer than 255 bytes).
std::optional<std::filesystem::path> controlSocketPath(std::string_view name);

// Sends control `code` to the running service `name` and returns its answer. Service names
// compare without regard to ASCII case, as on Windows: when no socket has the exact name, a
// socket in the folder whose name differs only in case is used.
//   kErrorServiceNotActive       no socket, or nobody listening on it (service not running)
//   kErrorAccessDenied           the socket is not open to this user (not in its group), or
//                                the service refused the control from this user
//   kErrorServiceRequestTimeout  the service did not answer within `timeout`
//   kErrorInvalidData            the answer was not a reply record
//   kErrorInvalidName            the name cannot name a service
//   anything else                the service's own error (see above)
ControlResult controlService(std::string_view name, std::uint32_t code,
                             std::chrono::milliseconds timeout = kDefaultControlTimeout);

// Wire records, shared with the serving side.
struct ControlRequest {
    std::uint32_t control = 0;
};
void encodeRequest(const ControlRequest& request, std::uint8_t (&out)[kRequestBytes]);
// Nothing when the message is not exactly one request record with the right magic.
std::optional<ControlRequest> decodeRequest(const std::uint8_t* data, std::size_t length);
void encodeReply(const ControlResult& reply, std::uint8_t (&out)[kReplyBytes]);
std::optional<ControlResult> decodeReply(const std::uint8_t* data, std::size_t length);

} // namespace kvr::svc
