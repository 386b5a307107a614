#include "platform/serial/port_map.h"

#include "platform/serial/dos_names.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>

namespace kvr::serial {

namespace {

namespace fs = std::filesystem;

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

// The names of a folder's entries in byte order; none when it cannot be read (never throws).
std::vector<std::string> sortedEntryNames(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    while (!ec && it != end) {
        names.push_back(it->path().filename().string());
        it.increment(ec);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<fs::path> targetOf(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::canonical(link, ec);
    if (ec) return std::nullopt; // a link to a tty that is gone
    return target;
}

// A ttyS node has a UART behind it when sysfs gives it a port type other than 0 (unknown).
bool hasUart(const fs::path& sysClassTty, unsigned number) {
    std::ifstream in(sysClassTty / ("ttyS" + std::to_string(number - 1)) / "type");
    int type = 0;
    return static_cast<bool>(in >> type) && type != 0;
}

fs::path uartNode(const PortRoots& roots, unsigned number) {
    return roots.dev / ("ttyS" + std::to_string(number - 1));
}

struct Links {
    std::set<unsigned> numbers;           // every comN entry, present or not
    std::map<unsigned, fs::path> present; // number -> the tty it reaches
    std::set<fs::path> targets;
};

Links scanLinks(const PortRoots& roots) {
    Links links;
    for (const auto& name : sortedEntryNames(roots.dosDevices)) {
        auto n = numberAfter(name, "com");
        if (!n || *n < kMinComNumber || *n > kMaxComNumber) continue;
        links.numbers.insert(*n);
        if (auto target = targetOf(roots.dosDevices / name)) {
            links.present.emplace(*n, *target);
            links.targets.insert(*target);
        }
    }
    return links;
}

struct Adapter {
    unsigned number = 0;
    fs::path byId; // the stable name, opened by the driver
    fs::path tty;
};

std::vector<Adapter> scanAdapters(const PortRoots& roots, const Links& links) {
    std::vector<Adapter> adapters;
    std::set<fs::path> named = links.targets;
    unsigned next = kFirstAdapterComNumber;
    const fs::path byIdDir = roots.dev / "serial" / "by-id";
    for (const auto& name : sortedEntryNames(byIdDir)) {
        auto tty = targetOf(byIdDir / name);
        if (!tty || !named.insert(*tty).second) continue;
        while (links.numbers.count(next) != 0)
            ++next;
        if (next > kMaxComNumber) break;
        adapters.push_back({next++, byIdDir / name, *tty});
    }
    return adapters;
}

} // namespace

PortRoots PortRoots::system() {
    return PortRoots{dosDevicesDir()};
}

std::vector<MappedPort> mapPorts(const PortRoots& roots) {
    const Links links = scanLinks(roots);
    std::map<unsigned, fs::path> ports(links.present.begin(), links.present.end());
    for (unsigned n = kMinComNumber; n <= kLastUartComNumber; ++n) {
        std::error_code ec;
        if (links.numbers.count(n) == 0 && hasUart(roots.sysClassTty, n) &&
            fs::exists(uartNode(roots, n), ec))
            ports.emplace(n, uartNode(roots, n));
    }
    for (const auto& adapter : scanAdapters(roots, links))
        ports.emplace(adapter.number, adapter.tty);

    std::vector<MappedPort> list;
    for (auto& [number, device] : ports)
        list.push_back({number, device});
    return list;
}

fs::path comPortPath(unsigned number, const PortRoots& roots) {
    const fs::path link = roots.dosDevices / ("com" + std::to_string(number));
    std::error_code ec;
    // symlink_status: a dangling link still names the port (the port is gone, not another).
    if (fs::exists(fs::symlink_status(link, ec))) return link;
    if (number >= kMinComNumber && number <= kLastUartComNumber) return uartNode(roots, number);
    if (number >= kFirstAdapterComNumber) {
        for (const auto& adapter : scanAdapters(roots, scanLinks(roots)))
            if (adapter.number == number) return adapter.byId;
    }
    return link;
}

} // namespace kvr::serial
