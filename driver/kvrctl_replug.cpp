#include "driver/kvrctl_replug.h"

#include "driver/kvrctl_ports.h"
#include "platform/ipc/control_codes.h"
#include "platform/registry/registry.h"
#include "platform/serial/port_map.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

namespace kvr::kvrctl {
namespace {

constexpr std::uint8_t kSerialUnits = 8;
constexpr std::string_view kSerialPrefix = "RS232_DEVICE";
constexpr std::size_t kNameBuffer = 30;
// The rate configured ports are connected at (as the touch service connects them).
constexpr std::uint32_t kConnectBaud = 9600;

std::string deviceKey(unsigned unit) {
    return "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device" +
           std::to_string(unit);
}

bool contains(const std::vector<unsigned>& numbers, unsigned n) {
    return std::find(numbers.begin(), numbers.end(), n) != numbers.end();
}

// The driver acknowledges a connect whether or not it could open the port: whether the line
// is now the driver's is seen from outside. Empty when it is; otherwise why not.
std::string portTrouble(const std::filesystem::path& tty, pid_t driverPid) {
    const PortState state = inspectPort(tty, driverPid);
    switch (state.holder) {
    case PortHolder::Driver:
        return {};
    case PortHolder::Other:
        return "the line is in use by another program (" + state.program + ", pid " +
               std::to_string(state.pid) + ")";
    case PortHolder::Missing:
        return "the line is gone";
    case PortHolder::NotSerial:
        return "the line is not a serial port";
    case PortHolder::Nobody:
        break;
    }
    return "the driver could not open the line (its log says why)";
}

} // namespace

std::vector<unsigned> comNumbersOf(const std::filesystem::path& tty) {
    std::vector<unsigned> numbers;
    std::error_code ec;
    const auto line = std::filesystem::canonical(tty, ec);
    if (ec) return numbers;
    for (const auto& port : serial::mapPorts(serial::PortRoots::system())) {
        std::error_code e;
        if (std::filesystem::canonical(port.device, e) == line && !contains(numbers, port.number))
            numbers.push_back(port.number);
    }
    return numbers;
}

int replugLine(const std::filesystem::path& tty, const DriverRequest& request, pid_t driverPid) {
    const auto numbers = comNumbersOf(tty);
    if (numbers.empty()) {
        std::printf("%s is no COM port: nothing to do\n", tty.c_str());
        return 0;
    }
    bool allBack = true;
    std::array<bool, kSerialUnits> listed{};

    // Controllers the drivers have connected before: reopened with their report mode.
    const int count = GetExistControllers();
    for (int i = 1; i <= count; ++i) {
        char name[kNameBuffer] = {};
        if (GetControllerName(static_cast<std::uint8_t>(i), name, kNameBuffer) == 0) continue;
        const std::string_view text(name);
        if (!text.starts_with(kSerialPrefix) || text.size() != kSerialPrefix.size() + 1) continue;
        const unsigned unit = static_cast<unsigned>(text.back() - '0');
        if (unit >= kSerialUnits) continue;
        listed[unit] = true;
        const std::int32_t handle = OpenController(name);
        if (handle == -1) continue;
        const unsigned com = CurrentCOMPort(handle);
        if (contains(numbers, com)) {
            request(control::IOCTL_RS232_CLOSE_COM_PORT, {static_cast<std::uint8_t>(unit)});
            const std::string trouble = ReopenCOMPort(handle) == 1
                                            ? portTrouble(tty, driverPid)
                                            : "the driver refused the connect";
            const bool back = trouble.empty();
            std::printf("%s on COM%u: %s\n", name, com,
                        back ? "connected again"
                             : ("could not be connected again: " + trouble).c_str());
            allBack = allBack && back;
        }
        CloseController(handle);
    }

    // Units whose port is configured but that no driver lists yet.
    for (std::uint8_t unit = 0; unit < kSerialUnits; ++unit) {
        if (listed[unit]) continue;
        std::uint32_t com = 0;
        if (reg::queryDword(deviceKey(unit), "COMPORT", com) != reg::Status::Ok) continue;
        if (!contains(numbers, com)) continue;
        std::vector<std::uint8_t> in{unit};
        for (const std::uint32_t v : {com, kConnectBaud})
            for (int i = 0; i < 4; ++i)
                in.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        const std::string trouble = request(control::IOCTL_RS232_CHANGE_COM_PORT, in)
                                        ? portTrouble(tty, driverPid)
                                        : "the driver refused the connect";
        std::printf("RS232_DEVICE%u on COM%u: %s\n", unit, com,
                    trouble.empty() ? "connected" : ("not connected: " + trouble).c_str());
        allBack = allBack && trouble.empty();
    }
    return allBack ? 0 : 1;
}

} // namespace kvr::kvrctl
