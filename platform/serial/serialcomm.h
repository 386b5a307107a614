#pragma once
// HARDWARE\DEVICEMAP\SERIALCOMM: the list of the machine's serial ports that programs read
// (the port scanner among them). It is rebuilt from the port mapping whenever asked for:
// one REG_SZ value per present port, the value's name the port's device path, its data
// "COMn", in port number order.

#include "platform/registry/registry.h"

#include <filesystem>
#include <string_view>
#include <vector>

namespace kvr::serial {

inline constexpr std::string_view kSerialCommKey =
    R"(HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM)";

struct MappedPort {
    unsigned number = 0;          // n of COMn
    std::filesystem::path device; // the tty: a link's target, or /dev/ttyS{n-1}
};

// The present ports, in number order: every dosdevices/comN link whose target exists, and
// every /dev/ttyS{n-1} with a UART behind it (its <sysClassTty>/ttyS{n-1}/type is not 0)
// whose number no link has taken.
std::vector<MappedPort> presentPorts(const std::filesystem::path& sysClassTty = "/sys/class/tty");

// Replaces the values of the SERIALCOMM key by the present ports (the key itself stays, so a
// reader never finds it missing). `count` (if given) receives the number of ports listed.
reg::Status rebuildSerialCommMap(std::size_t* count = nullptr,
                                 const std::filesystem::path& sysClassTty = "/sys/class/tty");

} // namespace kvr::serial
