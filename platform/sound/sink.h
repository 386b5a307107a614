#pragma once
// Numbered WAV files in the sound sink folder (internal).

#include <filesystem>
#include <functional>
#include <sndfile.h>
#include <string>

namespace kvr::sound::detail {

// Writes one sink file "<number>-<label>.wav" in `dir`: `write` gets an open libsndfile
// handle made with `info`, and returns false when it failed. The file gets its final name
// only when complete. Returns false (and leaves no file) on any failure.
bool writeSinkFile(const std::filesystem::path& dir, const std::string& label, SF_INFO info,
                   const std::function<bool(SNDFILE*)>& write);

// Reserves the next number of `dir` (shared by every thread and process using it).
// 0 when the folder's sequence file cannot be used.
uint64_t reserveSinkNumber(const std::filesystem::path& dir);

} // namespace kvr::sound::detail
