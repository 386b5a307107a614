#include "platform/serial/serialcomm.h"

#include "platform/serial/dos_names.h"
#include "platform/serial/port_map.h"

#include <cctype>
#include <set>
#include <string>

namespace kvr::serial {

std::vector<MappedPort> presentPorts(const std::filesystem::path& sysClassTty) {
    PortRoots roots = PortRoots::system();
    roots.sysClassTty = sysClassTty;
    return mapPorts(roots);
}

reg::Status rebuildSerialCommMap(std::size_t* count, const std::filesystem::path& sysClassTty) {
    PortRoots roots = PortRoots::system();
    roots.sysClassTty = sysClassTty;
    return rebuildSerialCommMap(count, roots);
}

reg::Status rebuildSerialCommMap(std::size_t* count, const PortRoots& roots) {
    if (count != nullptr) *count = 0;
    reg::Status s = reg::createKey(kSerialCommKey);
    if (s != reg::Status::Ok) return s;
    std::vector<reg::Value> old;
    s = reg::enumValues(kSerialCommKey, old);
    if (s != reg::Status::Ok) return s;
    for (const auto& v : old) {
        s = reg::deleteValue(kSerialCommKey, v.name);
        if (s != reg::Status::Ok && s != reg::Status::NotFound) return s;
    }
    std::set<std::string> names;
    std::size_t listed = 0;
    for (const auto& port : mapPorts(roots)) {
        // Names compare without case; two links to one tty fall back to the link's own path.
        std::string name = port.device.string();
        std::string folded = name;
        for (char& c : folded)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!names.insert(folded).second) {
            name = (roots.dosDevices / ("com" + std::to_string(port.number))).string();
            names.insert(name);
        }
        s = reg::setSz(kSerialCommKey, name, "COM" + std::to_string(port.number));
        if (s != reg::Status::Ok) return s;
        ++listed;
    }
    if (count != nullptr) *count = listed;
    return reg::Status::Ok;
}

} // namespace kvr::serial
