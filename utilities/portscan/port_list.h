#pragma once
// The ports the scanner probes: the system's serial port map (HARDWARE\DEVICEMAP\SERIALCOMM,
// rebuilt from the port rule of the platform layer when read), in the map's order, COM1 to
// COM8 only, at most eight.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::portscan {

inline constexpr std::size_t kMaxListedPorts = 8;
inline constexpr unsigned kMaxListedPortNumber = 8;

struct ListedPort {
    std::string path; // "\\.\COM3", what is opened
    std::string name; // "COM3", what is shown
    unsigned number = 0;
};

// A map value's data as a port of the list: "COM" and a number 1..8 after it; nothing for
// anything else ("COM12", "LPT1", "COM", "COMx").
std::optional<ListedPort> listedPort(std::string_view data);

// Reads the map, calling `afterValue` after each value (the scanner pauses there). Nothing
// when the map cannot be read; an empty list when no value qualifies.
std::optional<std::vector<ListedPort>> readPortList(const std::function<void()>& afterValue);

} // namespace kvr::portscan
