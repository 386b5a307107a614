#include "gui/controller_trouble.h"

#include "platform/common/paths.h"
#include "platform/ipc/control_device.h"

#include <QCoreApplication>
#include <cstdio>
#include <optional>
#include <vector>

namespace kvr::gui {
namespace {

constexpr std::string_view kSerialDevice = "KvrRs232D";
constexpr std::string_view kUsbDevice = "KvrUsbMgr";

} // namespace

TroubleCause findControllerTrouble(std::string_view controllerName) {
    std::vector<std::string_view> devices;
    if (!controllerName.starts_with("USB")) devices.push_back(kSerialDevice);
    if (!controllerName.starts_with("RS232")) devices.push_back(kUsbDevice);
    std::optional<std::string> deniedGroup;
    for (const std::string_view device : devices) {
        const ipc::DeviceReachReport report = ipc::probeDevice(device);
        if (report.reach == ipc::DeviceReach::Served)
            return {ControllerTrouble::NoAnswer, "no controller answered"};
        if (report.reach == ipc::DeviceReach::AccessDenied && !deniedGroup)
            deniedGroup = report.group.empty() ? std::string(paths::kSuiteGroup) : report.group;
    }
    if (deniedGroup)
        return {ControllerTrouble::PermissionDenied,
                "permission denied (not in group " + *deniedGroup + ")"};
    return {ControllerTrouble::DriverNotRunning, "the driver is not running"};
}

std::string controllerTroubleCause(std::string_view controllerName) {
    return findControllerTrouble(controllerName).text;
}

void reportControllerTrouble(std::string_view cause) {
    const std::string program = QCoreApplication::applicationName().toStdString();
    std::fprintf(stderr, "%s: %.*s\n", program.c_str(), static_cast<int>(cause.size()),
                 cause.data());
}

std::string withCause(std::string_view text, std::string_view cause) {
    return std::string(text) + "\n" + std::string(cause);
}

std::string explainControllerTrouble(std::string_view text, std::string_view controllerName) {
    const std::string cause = controllerTroubleCause(controllerName);
    reportControllerTrouble(cause);
    return withCause(text, cause);
}

} // namespace kvr::gui
