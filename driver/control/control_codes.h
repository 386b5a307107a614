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
