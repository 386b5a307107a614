#pragma once
// The direct probe of one serial port, made before the driver opens it: 9600 baud 8N1, the
// reset command SOH 'R' CR, and a controller is there when the reply starts with the
// acknowledge SOH '0' CR. Three tries, each: discard what was received, write, wait 500 ms,
// read what has arrived (waiting up to 100 ms for a first byte when nothing has).
//
// The probe never disturbs a port in use: a port that another program holds (an exclusive
// tty, TIOCEXCL, or one locked with flock as this suite's driver and serial ports lock theirs)
// is left alone and reported busy. While probing it holds the port exclusively itself, and it
// gives the port back with the line settings it found.

#include "platform/ipc/event.h"

#include <chrono>
#include <filesystem>

namespace kvr::portscan {

inline constexpr int kProbeTries = 3;
inline constexpr std::chrono::milliseconds kProbeReplyWait{500};
inline constexpr std::chrono::milliseconds kProbeReadTimeout{100};
inline constexpr std::size_t kProbeReadBytes = 255;

enum class ProbeResult {
    Found,
    NoDevice, // no answer, or not an answer of a controller
    Unusable, // cannot be opened or is not a serial port
    Busy,     // another program holds it
    Stopped,  // `stop` was set: the probe ended early
};

// Probes the tty at `device`. `stop` ends every wait at once.
ProbeResult probePort(const std::filesystem::path& device, const ipc::Event& stop);

const char* probeResultText(ProbeResult result);

} // namespace kvr::portscan
