#include "platform/serial/dos_names.h"

#include "platform/common/paths.h"
#include "platform/serial/port_map.h"

#include <cctype>
#include <string>

namespace kvr::serial {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<unsigned> parseDosName(std::string_view name) {
    for (std::string_view prefix : {R"(\\.\)", R"(\DosDevices\)"}) {
        if (startsWithNoCase(name, prefix)) {
            name.remove_prefix(prefix.size());
            break;
        }
    }
    if (!startsWithNoCase(name, "COM")) return std::nullopt;
    name.remove_prefix(3);
    if (name.empty() || name.size() > 3 || name.front() == '0') return std::nullopt;
    unsigned number = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number < kMinComNumber || number > kMaxComNumber) return std::nullopt;
    return number;
}

std::filesystem::path dosDevicesDir() {
    return paths::stateDir() / "dosdevices";
}

std::filesystem::path comLinkPath(unsigned number) {
    return dosDevicesDir() / ("com" + std::to_string(number));
}

std::filesystem::path usbLinkPath(unsigned unit) {
    return dosDevicesDir() / ("usb" + std::to_string(unit));
}

std::filesystem::path uartPath(unsigned number) {
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::filesystem::path comDevicePath(unsigned number) {
    return comPortPath(number, PortRoots::system());
}

std::optional<std::filesystem::path> resolveDosName(std::string_view name) {
    auto number = parseDosName(name);
    if (!number) return std::nullopt;
    return comDevicePath(*number);
}

} // namespace kvr::serial
