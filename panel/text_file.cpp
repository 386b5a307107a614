#include "panel/text_file.h"

#include "platform/common/text_encoding.h"

#include <fstream>
#include <iterator>

namespace kvr::panel {

std::string toUtf8(std::string_view text) {
    return text::toUtf8(text);
}

std::vector<std::string> splitTextLines(std::string_view contents) {
    const std::string text = toUtf8(contents);
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::optional<std::vector<std::string>> readTextLines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return splitTextLines(raw);
}

} // namespace kvr::panel
