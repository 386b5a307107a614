#pragma once
// The completion statuses the control devices carry (NT status values). A status is a success
// when its top bit is clear, a warning in 0x80000000..0xBFFFFFFF, an error from 0xC0000000.

#include <cstdint>

namespace kvr::ipc {

namespace status {
inline constexpr std::uint32_t kSuccess = 0x00000000;
inline constexpr std::uint32_t kUnsuccessful = 0xC0000001;       // STATUS_UNSUCCESSFUL
inline constexpr std::uint32_t kInvalidHandle = 0xC0000008;      // STATUS_INVALID_HANDLE
inline constexpr std::uint32_t kInvalidParameter = 0xC000000D;   // STATUS_INVALID_PARAMETER
inline constexpr std::uint32_t kObjectTypeMismatch = 0xC0000024; // STATUS_OBJECT_TYPE_MISMATCH
// The connection to the daemon broke (the daemon stopped, or it refused a malformed request).
inline constexpr std::uint32_t kPortDisconnected = 0xC0000037; // STATUS_PORT_DISCONNECTED
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
