#pragma once
// A name held by one live process: the file <dir>/<name> holding the owner's pid, locked with
// flock by the owner for as long as it holds the name. The kernel drops the lock when the
// owner dies, so a dead owner's file is recognised (and removed) by the next process that
// looks. Used for global atoms and for windows that other programs look up (internal).
//
// A file appears under its name only complete and already locked (written under a private
// name, then hard-linked into place), so a reader never sees an unlocked or empty live file.

#include "platform/common/unique_fd.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kvr::desktop::detail {

// Names compare without regard to ASCII case (as Windows' atoms and window titles): the file
// name is the lower-case name, with '/', '%', NUL and a leading '.' written as %XX.
// Nothing for an empty name or one whose file name would exceed 255 bytes.
std::optional<std::string> fileNameFor(std::string_view name);

enum class AcquireResult { Acquired, HeldElsewhere, Failed };

class OwnedName {
public:
    OwnedName() = default;
    OwnedName(OwnedName&&) noexcept = default;
    OwnedName& operator=(OwnedName&& o) noexcept;
    OwnedName(const OwnedName&) = delete;
    OwnedName& operator=(const OwnedName&) = delete;
    ~OwnedName() { release(); }

    // Takes `name` in `dir` for this process (created when missing). A name held by another
    // open of this process counts as held elsewhere.
    static AcquireResult acquire(const std::filesystem::path& dir, std::string_view name,
                                 OwnedName& out);
    [[nodiscard]] bool held() const { return fd_.valid(); }
    // Gives the name up: the file is removed, then the lock dropped.
    void release() noexcept;

private:
    UniqueFd fd_;
    std::filesystem::path path_;
};

// The pid of the live process holding `name` in `dir`, if any. Removes a dead owner's file.
std::optional<pid_t> findOwner(const std::filesystem::path& dir, std::string_view name);

// Sends `signal` to the live holder of `name`. The pid is checked to still be the holder's
// after it has been pinned (pidfd), so a recycled pid is never signalled. False when no live
// process holds the name or the signal cannot be sent.
bool signalOwner(const std::filesystem::path& dir, std::string_view name, int signal);

} // namespace kvr::desktop::detail
