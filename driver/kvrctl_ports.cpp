#include "driver/kvrctl_ports.h"

#include "platform/common/paths.h"
#include "platform/common/unique_fd.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace kvr::kvrctl {
namespace {

// The pids holding a lock on the file `st` describes. A /proc/locks line reads
//   "1: FLOCK  ADVISORY  WRITE 1234 00:19:6 0 EOF"
// (id, kind, mode, access, pid, major:minor:inode in hex:hex:decimal, range); lines of
// processes waiting for a lock have "->" after the id and are skipped.
std::vector<pid_t> lockHolders(const struct stat& st) {
    std::vector<pid_t> pids;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string id, kind, mode, access, device;
        long pid = 0;
        if (!(in >> id >> kind) || kind == "->") continue;
        if (!(in >> mode >> access >> pid >> device)) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(device.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino)
            pids.push_back(static_cast<pid_t>(pid));
    }
    return pids;
}

std::string programOf(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "?" : name;
}

} // namespace

pid_t controlDevicePid(const std::string& name) {
    struct stat st {};
    const auto lock = paths::runtimeDir() / "dev" / ("." + name + ".lock");
    if (::stat(lock.c_str(), &st) != 0) return 0;
    const auto pids = lockHolders(st);
    return pids.empty() ? 0 : pids.front();
}

PortState inspectPort(const std::filesystem::path& port, pid_t driverPid) {
    PortState state;
    struct stat st {};
    if (::stat(port.c_str(), &st) != 0) {
        state.holder = PortHolder::Missing;
        return state;
    }
    if (!S_ISCHR(st.st_mode)) {
        state.holder = PortHolder::NotSerial;
        return state;
    }
    for (const pid_t pid : lockHolders(st)) {
        state.pid = pid;
        state.holder = pid == driverPid ? PortHolder::Driver : PortHolder::Other;
        if (state.holder == PortHolder::Other) state.program = programOf(pid);
        return state;
    }
    // Nobody holds it: a character device that is no terminal (/dev/null) is no port.
    UniqueFd fd(::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd && ::isatty(fd.get()) == 0) state.holder = PortHolder::NotSerial;
    return state;
}

std::string describePort(const std::filesystem::path& port) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(port, ec)) return port.string();
    return port.string() + " -> " + std::filesystem::read_symlink(port, ec).string();
}

} // namespace kvr::kvrctl
