#pragma once
// The scanner's report text, one line per listed port and a few closing lines, each line
// ending with CR LF:
//
//   COM1: found a device.        a probed port with a controller
//   COM2: no device.             a probed port without one
//   COM3: in use by X (pid N).   a port that could not be probed, and why; never "no device"
//   COM4: detecting...           the port being probed next
//   COM5:                        a port not probed yet
//   COM7: not present (...).     notes on controllers the scan left as they were (final text)
//   Finished scanning            or "Had found N devices." and "Max supported Devices-->N"
//                                when the maximum number of controllers was reached
//
//   Select close(x) to exit the program.

#include "utilities/portscan/port_list.h"

#include <string>
#include <vector>

namespace kvr::portscan {

// What is known about each listed port (same order as the list).
enum class PortState { NotProbed, Detecting, Found, NoDevice, CannotProbe };

struct PortReport {
    PortState state = PortState::NotProbed;
    std::string why; // CannotProbe: what kept the port from being probed
};

// The text when the window opens: the first port "detecting...", the next up to three "%s:".
std::string initialText(const std::vector<ListedPort>& ports);

// The text after port `probed` (0-based): every port up to it with its result, the next one
// "detecting...", the rest "%s:". `results[j]` tells the result of port j.
std::string progressText(const std::vector<ListedPort>& ports,
                         const std::vector<PortReport>& results, std::size_t probed);

// The text at the end: a result line for every port up to and including `lastProbed`, the
// notes (one line each), then the summary and the closing line. `maxReached` with
// `maxControllers`: the scan stopped because that many controllers were found.
std::string finalText(const std::vector<ListedPort>& ports, const std::vector<PortReport>& results,
                      std::size_t lastProbed, bool maxReached, unsigned maxControllers,
                      const std::vector<std::string>& notes = {});

} // namespace kvr::portscan
