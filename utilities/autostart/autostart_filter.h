#pragma once
// Which start-up entries kvrautostart may start.
//
// The Run keys live in the settings store, which every member of the group lumarcon may
// write, while kvrautostart runs at the desktop login of every user, root included. So an
// entry is started only when it names one of the suite's own desktop programs, installed
// beside kvrautostart, and nothing else: no arguments (a Qt program takes options such as
// -platformpluginpath that load code), no shell, no other folder. Everything else is
// refused with the reason, for the log.
//
// An entry names the program by its path (as "RButton Path" holds it, /usr/bin/RClick) or by
// its name ("RClick", "RClick.exe", any case); a path counts only when it leads (through
// links) to that very file. The file must be a regular executable owned by root or by the
// user running kvrautostart and writable by nobody else.

#include <filesystem>
#include <string>
#include <string_view>

namespace kvr::autostart {

// The programs a start-up entry may start: the windowed programs of the suite.
inline constexpr std::string_view kStartablePrograms[] = {
    "RClick",    "tactivo", "cal3pt",   "linear",   "nvbackup",
    "nvrestore", "pinmap",  "portscan", "monmatch", "sketch"};

struct Verdict {
    bool start = false;
    std::filesystem::path program; // the file to start (when start)
    std::string reason;            // why not (when not)
};

// Judges one entry's command line against the programs in `folder` (kvrautostart's own).
Verdict judgeEntry(std::string_view commandLine, const std::filesystem::path& folder);

} // namespace kvr::autostart
