#pragma once
// The direct probe of one serial port, made before the driver opens it: 9600 baud 8N1, the
// reset command SOH 'R' CR, and a controller is there when the reply starts with the
// acknowledge SOH '0' CR. Three tries, each: discard what was received, write (500 ms at
// most), wait 500 ms, read what has arrived (waiting up to 100 ms for a first byte when
// nothing has).
//
// The probe never disturbs a port in use: a port that another program holds (an exclusive
// tty, TIOCEXCL, or one locked with flock as this suite's driver and serial ports lock theirs)
// is left alone and reported busy, with the program that holds it where it can be named.
// While probing it holds the port exclusively itself, and it gives the port back with the
// line settings it found. A port that cannot be opened is never "no device": the outcome
// says why, so the scan neither counts it as empty nor takes a controller off it.

#include "platform/ipc/event.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace kvr::portscan {

inline constexpr int kProbeTries = 3;
inline constexpr std::chrono::milliseconds kProbeReplyWait{500};
inline constexpr std::chrono::milliseconds kProbeReadTimeout{100};
inline constexpr std::chrono::milliseconds kProbeWriteLimit{500};
inline constexpr std::size_t kProbeReadBytes = 255;

enum class ProbeResult {
    Found,
    NoDevice,         // no answer, or not an answer of a controller (also: no serial port)
    PermissionDenied, // this user may not open the port
    Busy,             // another program holds it
    Gone,             // the port is not there
    Unusable,         // it could not be opened or set up for another reason
    Stopped,          // `stop` was set: the probe ended early
};

struct ProbeOutcome {
    ProbeResult result = ProbeResult::Unusable;
    std::string why; // for a port that could not be probed: what the user is told
};

// True when the outcome proves something about the port (a controller there, or none).
constexpr bool provesPort(ProbeResult r) {
    return r == ProbeResult::Found || r == ProbeResult::NoDevice;
}

// Probes the tty at `device`. `stop` ends every wait at once.
ProbeOutcome probePort(const std::filesystem::path& device, const ipc::Event& stop);

// What the user is told about a port this user may not open: "permission denied: add
// yourself to group dialout" (the tty's group).
std::string permissionText(const std::filesystem::path& device);
// ... and about a port another program holds: "in use by KvrRs232 (pid 4711)", or "in use by
// another program" when the holder cannot be named.
std::string busyText(const std::filesystem::path& device);

const char* probeResultText(ProbeResult result);

} // namespace kvr::portscan
