#pragma once
// Where the suite keeps its state and its runtime files.
//   KVR_STATE_DIR   (default /var/lib/lumarcon): registry database, dosdevices links
//   KVR_RUNTIME_DIR (default /run/lumarcon):     control sockets, service sockets, atoms, windows
// Both are read from the environment at every call, so tests can point a process elsewhere.

#include <filesystem>
#include <string>

namespace kvr::paths {

std::filesystem::path stateDir();
std::filesystem::path runtimeDir();

// A subfolder of the state or runtime folder, created (with parents) when missing.
// Returns the path even when it could not be created; the caller's open then fails.
std::filesystem::path stateSubdir(const std::string& name);
std::filesystem::path runtimeSubdir(const std::string& name);

// Creates a folder and its parents; false when it does not exist afterwards.
bool ensureDir(const std::filesystem::path& dir);

} // namespace kvr::paths
