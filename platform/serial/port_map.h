#pragma once
// Which tty each COM number stands for: the one rule that both the serial port map
// (HARDWARE\DEVICEMAP\SERIALCOMM) and the resolution of \DosDevices\COMn follow, so a program
// that finds a port in the map and the driver that opens it reach the same tty.
//
//   1. A dosdevices link wins: an entry $KVR_STATE_DIR/dosdevices/comN (a link to any tty:
//      a USB adapter, a pty of the emulator, a UART) is COMn, present or not.
//   2. COM1..COM4 not linked are the machine's UARTs /dev/ttyS0..ttyS3. The map lists one
//      only when the port has a UART behind it (/sys/class/tty/ttyS{n-1}/type is not 0).
//   3. USB serial adapters take COM5 and up, in the name order of /dev/serial/by-id (byte
//      order of the entry names, which hold the adapter's vendor, model and serial number,
//      so an adapter keeps its number across reboots and re-plugging). Numbers that a link
//      holds are passed over, and an adapter that a link already names gets no second
//      number. udev makes the by-id entries; an adapter without one, and UARTs from ttyS4
//      up, are reached through a dosdevices link.
//   Any other COM number names no port: opening it fails (it resolves to its link path,
//   which does not exist, so the error names the missing link).
//
// The folders are parameters (PortRoots) so the rule can be checked without the devices.

#include <filesystem>
#include <vector>

namespace kvr::serial {

inline constexpr unsigned kLastUartComNumber = 4; // COM1..COM4: /dev/ttyS0..ttyS3
inline constexpr unsigned kFirstAdapterComNumber = 5;

// Where the rule looks.
struct PortRoots {
    std::filesystem::path dosDevices;                     // $KVR_STATE_DIR/dosdevices
    std::filesystem::path dev = "/dev";                   // ttyS*, serial/by-id
    std::filesystem::path sysClassTty = "/sys/class/tty"; // UART types

    // The machine's folders (the state folder of the calling process).
    static PortRoots system();
};

struct MappedPort {
    unsigned number = 0;          // n of COMn
    std::filesystem::path device; // the tty itself (links followed)
};

// The present ports in number order: links whose target exists, UARTs COM1..COM4 with a
// UART behind them and a device node, and the adapters. A tty reached through two links is
// listed under both numbers.
std::vector<MappedPort> mapPorts(const PortRoots& roots);

// The path COMn is opened by: the link, the UART node, or the adapter's by-id entry; for a
// number that names no port, its (missing) link path.
std::filesystem::path comPortPath(unsigned number, const PortRoots& roots);

} // namespace kvr::serial
