#pragma once
// The file version that a binary of the suite carries in its ELF note (cmake/KvrVersionNote.cmake):
// note owner "Lumarcon", type 1, the text "a.b.c.d".

#include <filesystem>
#include <optional>
#include <string>

namespace kvr::desktop {

constexpr const char* kVersionNoteOwner = "Lumarcon";
constexpr unsigned kVersionNoteType = 1;

// Reads the version note of any ELF file (32 or 64 bit, either byte order) with plain file
// reads: the note sections, or the PT_NOTE segments of a file without section headers.
// Nothing when the file cannot be read, is not ELF, has no such note, or the note's text is
// not four dot-separated numbers of 0..65535. Every size and offset in the file is checked
// against the file before use. Never throws.
std::optional<std::string> readFileVersion(const std::filesystem::path& path);

} // namespace kvr::desktop
