#pragma once
// "kvrctl replug TTY": a serial line has appeared (udev runs it when a serial adapter is
// plugged in, 60-lumarcon.rules). Every serial controller whose COM port is that line is
// brought back:
//   - a controller the touch library lists (it was connected before): its old connection is
//     released (code 12: a line that hung up when the adapter went away keeps its dead port
//     until then), then it is connected again and its report mode sent again, exactly as the
//     library's ReopenCOMPort does. The line is new, so no live connection is cut;
//   - a unit whose port is only configured (COMPORT of its Device key, as the touch service
//     and portscan set it) and that no driver has listed yet: connected on it at 9600 baud, as
//     the touch service connects its configured ports; the service sets it up once it is
//     listed.
// A line that is no COM port, or serves none of the controllers, changes nothing.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace kvr::kvrctl {

// The COM numbers that name `tty` (the suite's COM-number rule: dosdevices links, UARTs,
// adapters by id), in number order.
std::vector<unsigned> comNumbersOf(const std::filesystem::path& tty);

// Sends one control request to the serial driver; true when it completed without an error.
using DriverRequest = std::function<bool(std::uint32_t code, const std::vector<std::uint8_t>& in)>;

// Brings back the controllers on `tty`; prints one line per controller. A controller is back
// when the driver (process `driverPid`) holds the line afterwards. Exit status: 0 when every
// controller on the line was brought back (or there was none), 1 otherwise.
int replugLine(const std::filesystem::path& tty, const DriverRequest& request, pid_t driverPid);

} // namespace kvr::kvrctl
