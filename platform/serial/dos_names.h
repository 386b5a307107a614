#pragma once
// Serial port names as programs know them, and the ttys they stand for.
//
//   COMn, \\.\COMn, \DosDevices\COMn   (any case, n = 1..256, no leading zero)
//        -> $KVR_STATE_DIR/dosdevices/comN   when that entry exists (a link to any tty:
//                                            a USB adapter, a pty of the emulator)
//        -> /dev/ttyS0..ttyS3                for COM1..COM4 otherwise (the machine's UARTs)
//        -> /dev/serial/by-id/...            for COM5 and up: the USB serial adapters, in
//                                            the name order of that folder
// (port_map.h holds the rule in full; the serial port map follows the same rule.)
//
// A link that exists but points nowhere still names the port: the port is then gone, and
// opening it fails with a clear error instead of silently reaching another UART.
// USB controllers are reached through $KVR_STATE_DIR/dosdevices/usbN (N = unit 0..3).

#include <filesystem>
#include <optional>
#include <string_view>

namespace kvr::serial {

inline constexpr unsigned kMinComNumber = 1;
inline constexpr unsigned kMaxComNumber = 256;

// The port number of a DOS name; nothing for any other text.
std::optional<unsigned> parseDosName(std::string_view name);

// $KVR_STATE_DIR/dosdevices (not created here).
std::filesystem::path dosDevicesDir();
// $KVR_STATE_DIR/dosdevices/comN and .../usbN.
std::filesystem::path comLinkPath(unsigned number);
std::filesystem::path usbLinkPath(unsigned unit);
// /dev/ttyS{n-1}: the machine's own UART behind COMn when no link says otherwise.
std::filesystem::path uartPath(unsigned number);
// The path COMn is opened by, per the rule above.
std::filesystem::path comDevicePath(unsigned number);
// parseDosName + comDevicePath; nothing for a text that is not a DOS name.
std::optional<std::filesystem::path> resolveDosName(std::string_view name);

} // namespace kvr::serial
