// KVR_DISPLAYS parser: "NAME:l,t,r,b;NAME:l,t,r,b".

#include "platform/common/log.h"
#include "platform/display/display.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>

namespace kvr::display {
namespace {

// A rectangle at most 524,287 pixels wide: sketch divides a display into 3,968 grid units in
// 32-bit products, and the windows take widths and heights as plain differences.
constexpr int32_t kMinCoordinate = -262144;
constexpr int32_t kMaxCoordinate = 262143;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// One decimal 32-bit signed number, the whole text and nothing else.
std::optional<int32_t> parseInt32(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.size() > 15) return std::nullopt;
    std::string buf(s);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(buf.c_str(), &end, 10);
    if (errno != 0 || end != buf.c_str() + buf.size()) return std::nullopt;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(v);
}

std::optional<Display> parseEntry(std::string_view entry) {
    const auto colon = entry.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view name = trim(entry.substr(0, colon));
    if (name.empty()) return std::nullopt;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;

    int32_t v[4];
    std::string_view rest = entry.substr(colon + 1);
    for (int i = 0; i < 4; ++i) {
        const auto comma = rest.find(',');
        const bool last = (i == 3);
        if (last != (comma == std::string_view::npos)) return std::nullopt;
        auto n = parseInt32(last ? rest : rest.substr(0, comma));
        if (!n) return std::nullopt;
        v[i] = *n;
        if (!last) rest = rest.substr(comma + 1);
    }
    if (v[2] <= v[0] || v[3] <= v[1]) return std::nullopt; // empty or inverted rectangle
    // Far beyond any desktop, but within what the windows' 32-bit arithmetic takes.
    for (const int32_t c : v)
        if (c < kMinCoordinate || c > kMaxCoordinate) return std::nullopt;
    return Display{std::string(name), v[0], v[1], v[2], v[3], false};
}

} // namespace

std::vector<Display> parseDisplayList(std::string_view text) {
    std::vector<Display> out;
    while (!text.empty()) {
        const auto semi = text.find(';');
        const std::string_view entry = trim(text.substr(0, semi));
        text = (semi == std::string_view::npos) ? std::string_view{} : text.substr(semi + 1);
        if (entry.empty()) continue;
        if (auto d = parseEntry(entry)) {
            out.push_back(std::move(*d));
        } else {
            KVR_LOG_WARN("KVR_DISPLAYS: skipping malformed entry \"%.*s\" (want NAME:l,t,r,b)",
                         static_cast<int>(entry.size()), entry.data());
        }
    }
    for (auto& d : out) {
        if (d.leftPx == 0 && d.topPx == 0) {
            d.primary = true;
            break;
        }
    }
    return out;
}

} // namespace kvr::display
