#include "utilities/portscan/port_list.h"

#include "platform/registry/registry.h"
#include "platform/serial/serialcomm.h"

namespace kvr::portscan {

std::optional<ListedPort> listedPort(std::string_view data) {
    constexpr std::string_view kPrefix = "COM";
    if (data.size() <= kPrefix.size() || data.substr(0, kPrefix.size()) != kPrefix)
        return std::nullopt;
    unsigned number = 0;
    for (char c : data.substr(kPrefix.size())) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number > kMaxListedPortNumber) return std::nullopt;
    }
    if (number == 0) return std::nullopt;
    return ListedPort{R"(\\.\)" + std::string(data), std::string(data), number};
}

std::optional<std::vector<ListedPort>> readPortList(const std::function<void()>& afterValue) {
    // The map follows the ports as they are now (adapters come and go).
    if (serial::rebuildSerialCommMap() != reg::Status::Ok) return std::nullopt;
    std::vector<reg::Value> values;
    if (reg::enumValues(serial::kSerialCommKey, values) != reg::Status::Ok) return std::nullopt;
    std::vector<ListedPort> ports;
    for (const auto& value : values) {
        if (afterValue) afterValue();
        if (value.type != reg::Type::Sz) continue;
        if (auto port = listedPort(value.sz)) ports.push_back(std::move(*port));
        if (ports.size() == kMaxListedPorts) break;
    }
    return ports;
}

} // namespace kvr::portscan
