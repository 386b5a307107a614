#pragma once
// Replacing a file all at once: the new contents go to a temporary file in the same folder,
// are flushed to the disk, and then take the file's name with rename(). A crash, a full disk
// or a failed write at any point leaves either the old file whole or the new one whole, never
// a mixture. No call throws.

#include <filesystem>
#include <string>
#include <string_view>

namespace kvr::files {

// Writes `contents` as `path` (created with mode 0644 less the umask, or keeping the mode of
// the file it replaces). False with a one-line reason in `error` (when given) on failure; the
// previous file, if any, is then untouched and no temporary file is left behind.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         std::string* error = nullptr);

} // namespace kvr::files
