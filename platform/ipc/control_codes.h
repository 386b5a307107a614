#pragma once
// The control interface of the touch drivers (KvrRs232, KvrUsbMgr): the control codes and the
// layout of their request and reply bytes. It is the contract between a driver and every
// client (the library, the service, kvrctl, portscan): both sides include this header and
// nothing else of each other.
//
// Every code is device type 0x22 (unknown device), function F, buffered, any access:
//   code = 0x22 << 16 | 0 (any access) << 14 | F << 2 | 0 (buffered)  =  0x220000 + 4 * F
//
// Request and reply bytes (little-endian DWORDs, unaligned; "u" = device index byte, the first
// byte of every per-device request; "-" = nothing). A reply "ack" is one byte 1.
//
//   code                      F   request                         reply
//   SET_ROTATION              3   u, rotation                     ack
//   DISABLE_REPORT            4   u, 0 on / 1 off now / 2 off     ack
//   SET_DOWN_EVENT            5   u, handle value (4) + eventfd   -
//   SET_UP_EVENT              6   u, handle value (4) + eventfd   -
//   GET_ROTATION              7   u                               rotation
//   SET_UP_SOUND              8   u, flag                         ack
//   SET_DOWN_SOUND            9   u, flag                         ack
//   GET_REPORT_STATUS        10   u                               1 reports off
//   CHANGE_COM_PORT          11   u, COM number, baud [, format]  ack
//   CLOSE_COM_PORT           12   u                               -
//   WRITE_BUFFER             13   u, frame (3..10 bytes)          -
//   READ_BUFFER              14   u                               up to 512 reply bytes
//   READ_LENGTH              15   u                               DWORD bytes waiting
//   FLUSH_READ_BUFFER        16   u                               -
//   SET_REPORT_MODE          17   u, mode 1..3                    ack
//   CAL_POINT_READY          18   u                               ready, raw x, raw y (1+4+4)
//   SET_CAL_POINT            19   u, point, point count           ack
//   IS_PEN_UP                20   u                               1 pen up
//   REOPEN_COM_PORT          21   u                               ack
//   GET_SOUND_STATUS         23   u                               down flag, up flag
//   GET_REPORT_MODE          25   u                               mode
//   SET_RIGHT_CLICK          27   u, flag                         ack
//   GET_RIGHT_CLICK          28   u                               DWORD time, flag
//   SET_DOUBLE_CLICK         29   u, flag (USB role only)         ack
//   GET_DOUBLE_CLICK         30   u (USB role only)               flag
//   CURRENT_COM_PORT         31   u                               COM number
//   READ_DISPLAY_NUMBER      33   u (the driver rereads word 9E)  -
//   SET_3P_CAL_POINT         37   u, point (255 ends)             ack while capturing
//   GET_3P_CAL_DATA          38   u                               raw x, raw y (4+4)
//   SAVE_CAL_DATA            39   u, x0 y0 x1 y1 x2 y2 (6 DWORDs) ack
//   SET_BASE_POINT           42   u, x, y (2 DWORDs)              ack
//   GET_BASE_POINT           43   u                               x, y (2 DWORDs)
//   SET_EXPAND               49   u, side 1..4, DWORD value       ack
//   GET_EXPAND               50   u, side 1..4                    DWORD value
// Driver-wide (no device index):
//   ARM_TOUCH_SEARCH         34   display index | arrangement<<2  ack
//   QUERY_TOUCH_SEARCH       35   -                               found, unit, index, arrangement
//   SET_DISPLAY_PARTITION    36   number, l, t, r, b (4 DWORDs)   ack
//   SET_MANUAL_RIGHT_CLICK   40   flag                            ack (when room)
//   SET_MANUAL_RIGHT_EVENT   41   handle value (4) + eventfd      -
//   GET_LAST_DOWN_DEVICE     45   -                               unit (0xFF none)
//   GET_LAST_UP_DEVICE       46   -                               unit (0xFF none)
//   SET_GLOBAL_DOWN_EVENT    47   handle value (4) + eventfd      -
//   SET_GLOBAL_UP_EVENT      48   handle value (4) + eventfd      -
//
// The statuses the requests complete with are those of platform/ipc/nt_status.h.

#include "platform/ipc/nt_status.h"

#include <cstddef>
#include <cstdint>

namespace kvr::control {

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

// ---- field layouts the clients build ---------------------------------------------------

// CHANGE_COM_PORT: u, DWORD COM number at 1, DWORD baud rate at 5, optional packet format
// byte at 9 (taken when the request has at least 13 bytes).
inline constexpr std::size_t kChangeComPortComAt = 1;
inline constexpr std::size_t kChangeComPortBaudAt = 5;
inline constexpr std::size_t kChangeComPortRequestBytes = 9;
// The packet formats the optional format byte names (0 M, 2 E, 3 M with Y inverted, ...).
inline constexpr std::uint8_t kMaxPacketFormat = 4;
// The COM numbers a driver connects (1..16).
inline constexpr std::uint8_t kMaxComPort = 16;
// WRITE_BUFFER: u, then a command frame of 3 to 10 bytes.
inline constexpr std::size_t kWriteBufferMinFrame = 3;
inline constexpr std::size_t kWriteBufferMaxFrame = 10;
// READ_BUFFER answers at most this many bytes in one request.
inline constexpr std::size_t kReadBufferMaxBytes = 512;
// Event registrations carry the handle value in 4 bytes after the index byte (per device) or
// at 0 (driver-wide); the eventfd itself travels beside the request.
inline constexpr std::size_t kEventHandleBytes = 4;
// GET_LAST_DOWN_DEVICE / GET_LAST_UP_DEVICE: no device raised the event yet.
inline constexpr std::uint8_t kNoLastDevice = 0xFF;


// ---- Live watch (not one of the Windows driver's codes) -----------------------------------------
// Diagnostics for `kvrctl watch`: a client hands the driver one end of a SOCK_SEQPACKET socket
// pair and gets every raw chunk read from the controllers and every pointer record delivered,
// one record per message, until it closes its end or its control connection. Nothing is
// recorded while nobody watches. Only the control device's group may watch (touches are
// private).
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

} // namespace kvr::control
