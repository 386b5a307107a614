#pragma once
// kvrctl's look at a serial port from outside the driver: does it exist, is it a terminal,
// and who holds it. The driver takes an exclusive flock on every port it opens and on its
// control device's lock file, so /proc/locks (readable by every user) tells whether the
// driver, another program or nobody has the port.

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace kvr::kvrctl {

enum class PortHolder {
    Nobody,   // the port is there and free
    Driver,   // the driver process holds it
    Other,    // another process holds it (pid, name in PortState)
    Missing,  // no such file (or a link to nothing)
    NotSerial // not a terminal
};

struct PortState {
    PortHolder holder = PortHolder::Nobody;
    pid_t pid = 0;       // the holder
    std::string program; // the holder's name (/proc/<pid>/comm)
};

// The process that serves control device `name` (the holder of its lock file); 0 if unknown.
pid_t controlDevicePid(const std::string& name);

// What `port` is and who holds it; `driverPid` as controlDevicePid gave it (0: any holder
// counts as Other). Only opens the port, briefly, when nobody holds it, to tell a terminal
// from another character device.
PortState inspectPort(const std::filesystem::path& port, pid_t driverPid);

// "/x/com3 -> /dev/pts/4" for a link, else the path.
std::string describePort(const std::filesystem::path& port);

} // namespace kvr::kvrctl
