// kvrautostart: starts the programs of the start-up lists when a user logs in to the desktop.
// The desktop runs it once per login through its XDG autostart entry; it reads the command
// lines under
//   HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run   (every user)
//   HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\Run    (this user)
// and starts each one detached, without waiting. So whoever adds or removes a Run value (the
// touch library for the manual right-click program, kvrreg, an installer) changes what starts
// at the next login, with the registry as the only record.
//
// Exit code: 0 when every entry started (or there were none), 1 when any could not be started,
// 2 usage error. It takes no arguments besides --help and --version.

#include "platform/desktop/command_line.h"
#include "platform/desktop/spawn.h"
#include "platform/registry/registry.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kRunKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
};

// Starts one Run value. Values are command lines; a whole value that names a program (a path
// with blanks, written without quotes) is taken as that program without arguments first.
bool startEntry(const std::string& commandLine) {
    if (kvr::desktop::resolveProgram(commandLine))
        return kvr::desktop::startDetached(commandLine).has_value();
    return kvr::desktop::startCommandLine(commandLine).has_value();
}

constexpr const char* kUsage =
    "Usage: kvrautostart\n"
    "Starts the programs of the start-up lists, without waiting for them; the desktop runs it\n"
    "once per login (XDG autostart). The lists are the command lines under\n"
    "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run   (every user)\n"
    "  HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run    (this user)\n"
    "in the settings store ($KVR_STATE_DIR/registry.db; kvrreg shows and changes them).\n"
    "\n"
    "Options: --help, --version.\n"
    "\n";

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (kvr::cli::isHelp(argv[1])) {
            std::printf(
                "%s%s", kUsage,
                kvr::cli::exitStatusText({"   an entry that cannot be started is a failure (1)"})
                    .c_str());
            return kvr::cli::kExitOk;
        }
        if (kvr::cli::isVersion(argv[1])) return kvr::cli::printVersion("kvrautostart");
        return kvr::cli::usageError("kvrautostart",
                                    "unexpected argument '" + kvr::cli::quoted(argv[1]) + "'");
    }
    int failures = 0;
    for (const char* key : kRunKeys) {
        std::vector<kvr::reg::Value> values;
        if (kvr::reg::enumValues(key, values) != kvr::reg::Status::Ok) continue;
        for (const auto& value : values) {
            if (value.type != kvr::reg::Type::Sz || value.sz.empty()) continue;
            if (startEntry(value.sz)) {
                std::fprintf(stderr, "kvrautostart: started \"%s\": %s\n", value.name.c_str(),
                             value.sz.c_str());
            } else {
                std::fprintf(stderr, "kvrautostart: cannot start \"%s\": %s\n", value.name.c_str(),
                             value.sz.c_str());
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
