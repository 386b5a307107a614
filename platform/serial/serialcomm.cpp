#include "platform/serial/serialcomm.h"

#include "platform/serial/dos_names.h"

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <system_error>

namespace kvr::serial {

namespace {

// The decimal number after `prefix` in a file name ("com12" -> 12); nothing otherwise.
// Written exactly as the mapping writes it: no leading zero, so "com03" is not COM3.
std::optional<unsigned> numberAfter(const std::string& name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 3) return std::nullopt;
    if (name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    if (name[prefix.size()] == '0' && name.size() > prefix.size() + 1) return std::nullopt;
    unsigned n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return n;
}

// A ttyS node has a UART behind it when sysfs gives it a port type other than 0 (unknown).
bool hasUart(const std::filesystem::path& sysClassTty, const std::string& name) {
    std::ifstream in(sysClassTty / name / "type");
    int type = 0;
    return static_cast<bool>(in >> type) && type != 0;
}

// The names of a folder's entries; none when it cannot be read (never throws).
std::vector<std::string> entryNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    while (!ec && it != end) {
        names.push_back(it->path().filename().string());
        it.increment(ec);
    }
    return names;
}

} // namespace

std::vector<MappedPort> presentPorts(const std::filesystem::path& sysClassTty) {
    std::map<unsigned, std::filesystem::path> ports;
    std::error_code ec;

    // A link named comN hides the UART of the same number, present or not.
    std::set<unsigned> linked;
    const auto dir = dosDevicesDir();
    for (const auto& name : entryNames(dir)) {
        auto n = numberAfter(name, "com");
        if (!n || *n < kMinComNumber || *n > kMaxComNumber) continue;
        linked.insert(*n);
        std::error_code rec;
        auto target = std::filesystem::canonical(dir / name, rec);
        if (rec) continue; // a link to a port that is gone
        ports.emplace(*n, target);
    }
    for (const auto& name : entryNames(sysClassTty)) {
        auto index = numberAfter(name, "ttyS");
        if (!index || *index + 1 > kMaxComNumber) continue;
        const unsigned number = *index + 1;
        if (linked.count(number) != 0 || !hasUart(sysClassTty, name)) continue;
        auto device = uartPath(number);
        if (std::filesystem::exists(device, ec)) ports.emplace(number, device);
    }

    std::vector<MappedPort> list;
    for (auto& [number, device] : ports)
        list.push_back({number, device});
    return list;
}

reg::Status rebuildSerialCommMap(std::size_t* count, const std::filesystem::path& sysClassTty) {
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
    for (const auto& port : presentPorts(sysClassTty)) {
        // Names compare without case; two links to one tty fall back to the link's own path.
        std::string name = port.device.string();
        std::string folded = name;
        for (char& c : folded)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!names.insert(folded).second) {
            name = comLinkPath(port.number).string();
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
