#pragma once
// Starting programs without waiting for them, as the suite's programs start one another
// ("cal3pt.exe RS232_DEVICE0", the manual right-click program). No call throws.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kvr::desktop {

// The program a name stands for:
//   - a name with '/' is a path (relative to the current folder); when it does not exist and
//     ends in ".exe", the path without ".exe";
//   - a plain name ("X.exe" or "X") is the program X in the calling program's own folder
//     (the folder of /proc/self/exe), the name compared without ASCII case and ".exe" dropped.
// Only an executable regular file counts. Nothing when there is none.
std::optional<std::filesystem::path> resolveProgram(std::string_view name);

// Starts `program` (resolved as above) with `args` as argv[1..], without waiting: in a new
// session (so it outlives the caller's terminal and process group), stdin, stdout and stderr
// on /dev/null, no other open descriptor, default signal dispositions, the caller's
// environment and current folder. Returns its pid, nothing when it cannot be found or started.
// The child is reaped by later calls (or reapDetachedChildren), never waited for.
std::optional<pid_t> startDetached(std::string_view program,
                                   const std::vector<std::string>& args = {});

// Splits a command line into words as Windows programs receive them: blanks separate words,
// double quotes group blanks into a word, \" is a literal quote. The first word names the
// program, as for startDetached.
std::vector<std::string> splitCommandLine(std::string_view commandLine);
std::optional<pid_t> startCommandLine(std::string_view commandLine);

// Collects the exit status of detached children that have ended (so none stays a zombie).
void reapDetachedChildren();

} // namespace kvr::desktop
