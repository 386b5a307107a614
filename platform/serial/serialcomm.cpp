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
    std::vector<reg::Value> values;
    std::set<std::string> names;
    for (const auto& port : mapPorts(roots)) {
        // Names compare without case; two links to one tty fall back to the link's own path.
        reg::Value v;
        v.name = port.device.string();
        std::string folded = v.name;
        for (char& c : folded)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!names.insert(folded).second) {
            v.name = (roots.dosDevices / ("com" + std::to_string(port.number))).string();
            names.insert(v.name);
        }
        v.type = reg::Type::Sz;
        v.sz = "COM" + std::to_string(port.number);
        values.push_back(std::move(v));
    }
    // One transaction for the whole list: a scanner reading the map while the driver rebuilds
    // it sees the old list or the new one, never an empty or half-built one, and two rebuilds
    // at once cannot delete each other's entries.
    reg::Status s = reg::createKey(kSerialCommKey);
    if (s == reg::Status::Ok) s = reg::replaceValues(kSerialCommKey, values);
    if (s == reg::Status::Ok && count != nullptr) *count = values.size();
    return s;
}

} // namespace kvr::serial
