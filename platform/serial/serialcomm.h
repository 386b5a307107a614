#pragma once
// HARDWARE\DEVICEMAP\SERIALCOMM: the list of the machine's serial ports that programs read
// (the port scanner among them). It is rebuilt from the port mapping whenever asked for:
// one REG_SZ value per present port, the value's name the port's device path, its data
// "COMn", in port number order. Which ports are present, and their numbers, follow the one
// rule of port_map.h (links, UARTs COM1..COM4, USB adapters from COM5).

#include "platform/registry/registry.h"
#include "platform/serial/port_map.h"

#include <filesystem>
#include <string_view>
#include <vector>

namespace kvr::serial {

inline constexpr std::string_view kSerialCommKey =
    R"(HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM)";

// The present ports, in number order (mapPorts with the machine's /dev and dosdevices).
std::vector<MappedPort> presentPorts(const std::filesystem::path& sysClassTty = "/sys/class/tty");

// Replaces the values of the SERIALCOMM key by the present ports (the key itself stays, so a
// reader never finds it missing). `count` (if given) receives the number of ports listed.
reg::Status rebuildSerialCommMap(std::size_t* count = nullptr,
                                 const std::filesystem::path& sysClassTty = "/sys/class/tty");
// The same over the given folders (tests).
reg::Status rebuildSerialCommMap(std::size_t* count, const PortRoots& roots);

} // namespace kvr::serial
