// kvrautostart: starts the programs of the start-up lists when a user logs in to the desktop.
// The desktop runs it once per login through its XDG autostart entry; it reads the command
// lines under
//   HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run   (every user)
//   HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\Run    (this user)
// and starts each one detached, without waiting. So whoever adds or removes a Run value (the
// touch library for the manual right-click program, kvrreg, an installer) changes what starts
// at the next login, with the registry as the only record.
//
// The store is the group's to write, and this runs for every user who logs in: only the
// suite's own desktop programs installed beside it are started, each without arguments and
// without a shell (autostart_filter.h). Any other entry is logged (stderr and syslog) and
// skipped.
//
// Exit code: 0 when every entry started (or there were none), 1 when any could not be started
// or was refused, 2 usage error. It takes no arguments besides --help and --version.

#include "platform/common/log.h"
#include "platform/desktop/command_line.h"
#include "platform/desktop/spawn.h"
#include "platform/registry/registry.h"
#include "utilities/autostart/autostart_filter.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr const char* kRunKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
};

std::filesystem::path ownFolder() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

constexpr const char* kUsage =
    "Usage: kvrautostart\n"
    "Starts the programs of the start-up lists, without waiting for them; the desktop runs it\n"
    "once per login (XDG autostart). The lists are the command lines under\n"
    "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run   (every user)\n"
    "  HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run    (this user)\n"
    "in the settings store ($KVR_STATE_DIR/registry.db; kvrreg shows and changes them).\n"
    "Only the suite's desktop programs installed beside kvrautostart are started (RClick,\n"
    "tactivo, cal3pt, linear, nvbackup, nvrestore, pinmap, portscan, monmatch, sketch), by\n"
    "name or installed path and without arguments; any other entry is logged and skipped.\n"
    "\n"
    "Options: --help, --version.\n"
    "\n";

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (kvr::cli::isHelp(argv[1])) {
            std::printf("%s%s", kUsage,
                        kvr::cli::exitStatusText(
                            {"An entry that cannot be started, or is refused, is a failure (1)."})
                            .c_str());
            return kvr::cli::kExitOk;
        }
        if (kvr::cli::isVersion(argv[1])) return kvr::cli::printVersion("kvrautostart");
        return kvr::cli::usageError("kvrautostart",
                                    "unexpected argument '" + kvr::cli::quoted(argv[1]) + "'");
    }
    // A refused entry is for the administrator to see: the system log too.
    kvr::log::setSyslog("kvrautostart");
    const std::filesystem::path folder = ownFolder();
    int failures = 0;
    for (const char* key : kRunKeys) {
        std::vector<kvr::reg::Value> values;
        if (kvr::reg::enumValues(key, values) != kvr::reg::Status::Ok) continue;
        for (const auto& value : values) {
            if (value.type != kvr::reg::Type::Sz || value.sz.empty()) continue;
            const std::string name = kvr::cli::quoted(value.name);
            const std::string entry = kvr::cli::quoted(value.sz);
            const auto verdict = kvr::autostart::judgeEntry(value.sz, folder);
            if (!verdict.start) {
                KVR_LOG_WARN("skipped \"%s\" (%s): %s", name.c_str(), entry.c_str(),
                             verdict.reason.c_str());
                ++failures;
            } else if (kvr::desktop::startDetached(verdict.program.string())) {
                KVR_LOG_INFO("started \"%s\": %s", name.c_str(), verdict.program.c_str());
            } else {
                KVR_LOG_WARN("cannot start \"%s\": %s", name.c_str(), verdict.program.c_str());
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
