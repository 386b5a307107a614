#include "utilities/portscan/report_text.h"

#include <algorithm>

namespace kvr::portscan {

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr std::size_t kInitialLines = 4;

std::string line(const ListedPort& port, const PortReport& report) {
    std::string text = port.name + ":";
    switch (report.state) {
    case PortState::NotProbed:
        break;
    case PortState::Detecting:
        text += " detecting...";
        break;
    case PortState::Found:
        text += " found a device.";
        break;
    case PortState::NoDevice:
        text += " no device.";
        break;
    case PortState::CannotProbe:
        text += " " + report.why + ".";
        break;
    }
    return text + kLineEnd;
}

std::string line(const ListedPort& port, PortState state) {
    return line(port, PortReport{state, {}});
}

PortReport resultOf(const std::vector<PortReport>& results, std::size_t j) {
    return j < results.size() ? results[j] : PortReport{PortState::NoDevice, {}};
}

} // namespace

std::string initialText(const std::vector<ListedPort>& ports) {
    std::string text;
    const std::size_t shown = std::min(ports.size(), kInitialLines);
    for (std::size_t j = 0; j < shown; ++j)
        text += line(ports[j], j == 0 ? PortState::Detecting : PortState::NotProbed);
    return text;
}

std::string progressText(const std::vector<ListedPort>& ports,
                         const std::vector<PortReport>& results, std::size_t probed) {
    std::string text;
    for (std::size_t j = 0; j < ports.size(); ++j) {
        if (j <= probed)
            text += line(ports[j], resultOf(results, j));
        else
            text += line(ports[j], j == probed + 1 ? PortState::Detecting : PortState::NotProbed);
    }
    return text;
}

std::string finalText(const std::vector<ListedPort>& ports, const std::vector<PortReport>& results,
                      std::size_t lastProbed, bool maxReached, unsigned maxControllers,
                      const std::vector<std::string>& notes) {
    std::string text;
    for (std::size_t j = 0; j < ports.size() && j <= lastProbed; ++j)
        text += line(ports[j], resultOf(results, j));
    for (const std::string& note : notes)
        text += note + kLineEnd;
    if (maxReached) {
        text += "Had found " + std::to_string(maxControllers) + " devices." + kLineEnd;
        text += "Max supported Devices-->" + std::to_string(maxControllers) + kLineEnd;
    } else {
        text += std::string("Finished scanning") + kLineEnd;
    }
    text += kLineEnd;
    text += std::string("Select close(x) to exit the program.") + kLineEnd;
    return text;
}

} // namespace kvr::portscan
