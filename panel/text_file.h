#pragma once
// Reading the panel's text files (message file, customisation file, help text): lines as a
// person wrote them, whatever editor made them.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::panel {

// The file's lines without their line ends (LF, CR LF or a lone CR). Text that is not valid
// UTF-8 is taken as Windows-1252 (files written on the old systems) and converted, so every
// line returned is valid UTF-8. Nothing when the file cannot be read.
std::optional<std::vector<std::string>> readTextLines(const std::filesystem::path& path);
// The same for a file's contents.
std::vector<std::string> splitTextLines(std::string_view contents);

// `text` as valid UTF-8: unchanged when it already is, else taken as Windows-1252.
std::string toUtf8(std::string_view text);

} // namespace kvr::panel
