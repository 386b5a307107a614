#pragma once
// Where the suite keeps its state and its runtime files.
//   KVR_STATE_DIR   (default /var/lib/lumarcon): registry database, dosdevices links
//   KVR_RUNTIME_DIR (default /run/lumarcon):     control sockets, service sockets, atoms, windows
//   KVR_CONFIG_DIR  (default /etc/lumarcon):     message and customisation files of the programs
// Both are read from the environment at every call, so tests can point a process elsewhere.

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kvr::paths {

std::filesystem::path stateDir();
std::filesystem::path runtimeDir();
std::filesystem::path configDir();

// A file the programs read from "the current folder" (message files, customisation files,
// pictures, help texts): the file of that name in the current folder when there is one,
// else the one in configDir(). The current-folder path (which does not exist) when neither
// has it, so the caller's open fails as it would have.
std::filesystem::path findConfigFile(const std::string& name);

// A subfolder of the state or runtime folder, created (with parents) when missing.
// Returns the path even when it could not be created; the caller's open then fails.
std::filesystem::path stateSubdir(const std::string& name);
std::filesystem::path runtimeSubdir(const std::string& name);

// Creates a folder and its parents; false when it does not exist afterwards.
bool ensureDir(const std::filesystem::path& dir);

// The suite's group: the daemons run in it, its members (the people who configure touch
// screens) may use the control sockets and the settings store.
inline constexpr const char* kSuiteGroup = "lumarcon";
// Its id; nothing on a system without it.
std::optional<gid_t> suiteGroupId();

} // namespace kvr::paths
