#pragma once
// The completion statuses the control devices carry (NT status values). A status is a success
// when its top bit is clear, a warning in 0x80000000..0xBFFFFFFF, an error from 0xC0000000.

#include <cstdint>

namespace kvr::ipc {

// Every status the suite's drivers and control devices use, in one place.
namespace status {
inline constexpr std::uint32_t kSuccess = 0x00000000;
inline constexpr std::uint32_t kUnsuccessful = 0xC0000001;         // STATUS_UNSUCCESSFUL
inline constexpr std::uint32_t kNotImplemented = 0xC0000002;       // STATUS_NOT_IMPLEMENTED
inline constexpr std::uint32_t kInvalidHandle = 0xC0000008;        // STATUS_INVALID_HANDLE
inline constexpr std::uint32_t kInvalidParameter = 0xC000000D;     // STATUS_INVALID_PARAMETER
inline constexpr std::uint32_t kInvalidDeviceRequest = 0xC0000010; // STATUS_INVALID_DEVICE_REQUEST
// The peer may not make this request (a change of state by someone outside the group).
inline constexpr std::uint32_t kAccessDenied = 0xC0000022;       // STATUS_ACCESS_DENIED
inline constexpr std::uint32_t kBufferTooSmall = 0xC0000023;     // STATUS_BUFFER_TOO_SMALL
inline constexpr std::uint32_t kObjectTypeMismatch = 0xC0000024; // STATUS_OBJECT_TYPE_MISMATCH
inline constexpr std::uint32_t kObjectNameNotFound = 0xC0000034; // STATUS_OBJECT_NAME_NOT_FOUND
// The connection to the daemon broke (the daemon stopped, or it refused a malformed request).
inline constexpr std::uint32_t kPortDisconnected = 0xC0000037;      // STATUS_PORT_DISCONNECTED
inline constexpr std::uint32_t kSharingViolation = 0xC0000043;      // STATUS_SHARING_VIOLATION
inline constexpr std::uint32_t kInsufficientResources = 0xC000009A; // STATUS_INSUFFICIENT_RESOURCES
inline constexpr std::uint32_t kDeviceNotConnected = 0xC000009D;    // STATUS_DEVICE_NOT_CONNECTED
inline constexpr std::uint32_t kIoTimeout = 0xC00000B5;             // STATUS_IO_TIMEOUT
} // namespace status

// NT_SUCCESS: success and informational statuses.
constexpr bool isSuccess(std::uint32_t s) {
    return static_cast<std::int32_t>(s) >= 0;
}
// NT_ERROR: the request failed and no reply bytes are copied back.
constexpr bool isError(std::uint32_t s) {
    return (s >> 30) == 3U;
}

} // namespace kvr::ipc
