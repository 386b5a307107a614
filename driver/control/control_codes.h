#pragma once
// Control codes of the driver's control device and the NT statuses its requests complete with.
//
// Every code is device type 0x22 (unknown device), function F, buffered, any access:
//   code = 0x22 << 16 | 0 (any access) << 14 | F << 2 | 0 (buffered)  =  0x220000 + 4 * F

#include "platform/ipc/nt_status.h"

#include <cstdint>

namespace kvr::driver {

constexpr std::uint32_t Rs232ControlCode(std::uint32_t function) {
    return 0x220000u + 4u * function;
}
// Function number of a code of this device type, or nothing usable (0xFFFFFFFF) for any other.
constexpr std::uint32_t Rs232FunctionOf(std::uint32_t code) {
    return (code & 0xFFFF0003u) == 0x220000u ? (code - 0x220000u) / 4u : 0xFFFFFFFFu;
}

// clang-format off
// Per-device codes: byte 0 of the request is the device index.
inline constexpr std::uint32_t IOCTL_RS232_SET_ROTATION          = Rs232ControlCode(3);
inline constexpr std::uint32_t IOCTL_RS232_DISABLE_REPORT        = Rs232ControlCode(4);
inline constexpr std::uint32_t IOCTL_RS232_SET_DOWN_EVENT        = Rs232ControlCode(5);
inline constexpr std::uint32_t IOCTL_RS232_SET_UP_EVENT          = Rs232ControlCode(6);
inline constexpr std::uint32_t IOCTL_RS232_GET_ROTATION          = Rs232ControlCode(7);
inline constexpr std::uint32_t IOCTL_RS232_SET_UP_SOUND          = Rs232ControlCode(8);
inline constexpr std::uint32_t IOCTL_RS232_SET_DOWN_SOUND        = Rs232ControlCode(9);
inline constexpr std::uint32_t IOCTL_RS232_GET_REPORT_STATUS     = Rs232ControlCode(10);
inline constexpr std::uint32_t IOCTL_RS232_CHANGE_COM_PORT       = Rs232ControlCode(11);
inline constexpr std::uint32_t IOCTL_RS232_CLOSE_COM_PORT        = Rs232ControlCode(12);
inline constexpr std::uint32_t IOCTL_RS232_WRITE_BUFFER          = Rs232ControlCode(13);
inline constexpr std::uint32_t IOCTL_RS232_READ_BUFFER           = Rs232ControlCode(14);
inline constexpr std::uint32_t IOCTL_RS232_READ_LENGTH           = Rs232ControlCode(15);
inline constexpr std::uint32_t IOCTL_RS232_FLUSH_READ_BUFFER     = Rs232ControlCode(16);
inline constexpr std::uint32_t IOCTL_RS232_SET_REPORT_MODE       = Rs232ControlCode(17);
inline constexpr std::uint32_t IOCTL_RS232_CAL_POINT_READY       = Rs232ControlCode(18);
inline constexpr std::uint32_t IOCTL_RS232_SET_CAL_POINT         = Rs232ControlCode(19);
inline constexpr std::uint32_t IOCTL_RS232_IS_PEN_UP             = Rs232ControlCode(20);
inline constexpr std::uint32_t IOCTL_RS232_REOPEN_COM_PORT       = Rs232ControlCode(21);
inline constexpr std::uint32_t IOCTL_RS232_GET_SOUND_STATUS      = Rs232ControlCode(23);
inline constexpr std::uint32_t IOCTL_RS232_GET_REPORT_MODE       = Rs232ControlCode(25);
inline constexpr std::uint32_t IOCTL_RS232_SET_RIGHT_CLICK       = Rs232ControlCode(27);
inline constexpr std::uint32_t IOCTL_RS232_GET_RIGHT_CLICK       = Rs232ControlCode(28);
// Served only in the USB role (the USB touch driver's double-click switch).
inline constexpr std::uint32_t IOCTL_RS232_SET_DOUBLE_CLICK      = Rs232ControlCode(29);
inline constexpr std::uint32_t IOCTL_RS232_GET_DOUBLE_CLICK      = Rs232ControlCode(30);
inline constexpr std::uint32_t IOCTL_RS232_CURRENT_COM_PORT      = Rs232ControlCode(31);
inline constexpr std::uint32_t IOCTL_RS232_READ_DISPLAY_NUMBER   = Rs232ControlCode(33);
inline constexpr std::uint32_t IOCTL_RS232_SET_3P_CAL_POINT      = Rs232ControlCode(37);
inline constexpr std::uint32_t IOCTL_RS232_GET_3P_CAL_DATA       = Rs232ControlCode(38);
inline constexpr std::uint32_t IOCTL_RS232_SAVE_CAL_DATA         = Rs232ControlCode(39);
inline constexpr std::uint32_t IOCTL_RS232_SET_BASE_POINT        = Rs232ControlCode(42);
inline constexpr std::uint32_t IOCTL_RS232_GET_BASE_POINT        = Rs232ControlCode(43);
inline constexpr std::uint32_t IOCTL_RS232_SET_EXPAND            = Rs232ControlCode(49);
inline constexpr std::uint32_t IOCTL_RS232_GET_EXPAND            = Rs232ControlCode(50);

// Driver-wide codes: no device index, byte 0 is the first field.
inline constexpr std::uint32_t IOCTL_RS232_ARM_TOUCH_SEARCH      = Rs232ControlCode(34);
inline constexpr std::uint32_t IOCTL_RS232_QUERY_TOUCH_SEARCH    = Rs232ControlCode(35);
inline constexpr std::uint32_t IOCTL_RS232_SET_DISPLAY_PARTITION = Rs232ControlCode(36);
inline constexpr std::uint32_t IOCTL_RS232_SET_MANUAL_RIGHT_CLICK = Rs232ControlCode(40);
inline constexpr std::uint32_t IOCTL_RS232_SET_MANUAL_RIGHT_EVENT = Rs232ControlCode(41);
inline constexpr std::uint32_t IOCTL_RS232_GET_LAST_DOWN_DEVICE  = Rs232ControlCode(45);
inline constexpr std::uint32_t IOCTL_RS232_GET_LAST_UP_DEVICE    = Rs232ControlCode(46);
inline constexpr std::uint32_t IOCTL_RS232_SET_GLOBAL_DOWN_EVENT = Rs232ControlCode(47);
inline constexpr std::uint32_t IOCTL_RS232_SET_GLOBAL_UP_EVENT   = Rs232ControlCode(48);

// Internal requests of the pointer class driver (on the pointer-port device).
inline constexpr std::uint32_t IOCTL_INTERNAL_MOUSE_CONNECT      = 0x000F0203;
inline constexpr std::uint32_t IOCTL_INTERNAL_MOUSE_DISCONNECT   = 0x000F0403;
// clang-format on

// True for the nine driver-wide codes.
constexpr bool IsGlobalCode(std::uint32_t code) {
    switch (code) {
    case IOCTL_RS232_ARM_TOUCH_SEARCH:
    case IOCTL_RS232_QUERY_TOUCH_SEARCH:
    case IOCTL_RS232_SET_DISPLAY_PARTITION:
    case IOCTL_RS232_SET_MANUAL_RIGHT_CLICK:
    case IOCTL_RS232_SET_MANUAL_RIGHT_EVENT:
    case IOCTL_RS232_GET_LAST_DOWN_DEVICE:
    case IOCTL_RS232_GET_LAST_UP_DEVICE:
    case IOCTL_RS232_SET_GLOBAL_DOWN_EVENT:
    case IOCTL_RS232_SET_GLOBAL_UP_EVENT:
        return true;
    default:
        return false;
    }
}

// The NT statuses the driver completes requests with (one list for the whole suite).
namespace ntstatus = ::kvr::ipc::status;

} // namespace kvr::driver

// ---- Live watch (not one of the Windows driver's codes) -----------------------------------------
// Diagnostics for `kvrctl watch`: a client hands the driver one end of a SOCK_SEQPACKET socket
// pair and gets every raw chunk read from the controllers and every pointer record delivered,
// one record per message, until it closes its end or its control connection. Nothing is
// recorded while nobody watches. Only the control device's group may watch (touches are
// private).
namespace kvr::driver {

// Request: in >= 1, byte 0 = the unit to watch (a device index) or kWatchEveryUnit; the
// socket attached as the request's descriptor. Success, info 0. No descriptor:
// STATUS_INVALID_HANDLE; not a SOCK_SEQPACKET socket: STATUS_OBJECT_TYPE_MISMATCH; no such
// unit: STATUS_INVALID_DEVICE_REQUEST; too many watchers: STATUS_INSUFFICIENT_RESOURCES.
inline constexpr std::uint32_t IOCTL_KVR_WATCH = Rs232ControlCode(0x800);
inline constexpr std::uint8_t kWatchEveryUnit = 0xFF;
inline constexpr std::uint32_t kMaxWatchers = 8;

// One message, native byte order:
//   0      1      2         4          8                 16
//   +------+------+---------+----------+-----------------+----------------------------+
//   | kind | unit | length  | reserved | time (ns, UTC)  | `length` payload bytes     |
//   +------+------+---------+----------+-----------------+----------------------------+
// kind kWatchRaw:     the bytes as read from the controller's line (1..255)
// kind kWatchPointer: WatchPointer (12 bytes): the record handed to the pointer sink
// kind kWatchDropped: one uint32, the records lost since the last message (a slow reader)
enum class WatchKind : std::uint8_t { Raw = 1, Pointer = 2, Dropped = 3 };
struct WatchHeader {
    WatchKind kind;
    std::uint8_t unit;
    std::uint16_t length;
    std::uint32_t reserved;
    std::uint64_t timeNs;
};
static_assert(sizeof(WatchHeader) == 16);
struct WatchPointer {
    std::int32_t x; // pointer units 0..65535
    std::int32_t y;
    std::uint16_t buttonFlags; // the mouse input record's button flags
    std::uint16_t reserved;
};
static_assert(sizeof(WatchPointer) == 12);
inline constexpr std::uint32_t kMaxWatchPayload = 255;

} // namespace kvr::driver
