#include "platform/registry/registry_path.h"

#include <cstdio>

namespace kvr::reg::detail {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A name as a message shows it: cut after 40 characters, control characters as '?'.
std::string shown(std::string_view name) {
    constexpr std::size_t kShown = 40;
    std::string out = "'";
    for (const char c : name.substr(0, kShown))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out + (name.size() > kShown ? "...'" : "'");
}

Status invalid(std::string* why, std::string text) {
    if (why != nullptr) *why = std::move(text);
    return Status::InvalidArgument;
}

} // namespace

std::string foldCase(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = lower(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

const char* hiveName(Hive hive) {
    return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

Status parsePath(std::string_view path, ParsedPath& out, std::string* why) {
    out.names.clear();
    if (path.find('\0') != std::string_view::npos)
        return invalid(why, "key path has a NUL character");

    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) parts.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    constexpr const char* kHives = "HKEY_LOCAL_MACHINE, HKLM, HKEY_CURRENT_USER, HKCU, "
                                   "\\REGISTRY\\Machine or \\REGISTRY\\User";
    if (parts.empty()) return invalid(why, std::string("key path names no hive (") + kHives + ")");

    std::size_t first = 1;
    if (equalsNoCase(parts[0], "HKEY_LOCAL_MACHINE") || equalsNoCase(parts[0], "HKLM")) {
        out.hive = Hive::LocalMachine;
    } else if (equalsNoCase(parts[0], "HKEY_CURRENT_USER") || equalsNoCase(parts[0], "HKCU")) {
        out.hive = Hive::CurrentUser;
    } else if (equalsNoCase(parts[0], "REGISTRY") && parts.size() >= 2) {
        // The kernel's namespace: \REGISTRY\Machine is the local machine hive; \REGISTRY\User
        // stands for the one user profile this store keeps.
        if (equalsNoCase(parts[1], "Machine"))
            out.hive = Hive::LocalMachine;
        else if (equalsNoCase(parts[1], "User"))
            out.hive = Hive::CurrentUser;
        else
            return invalid(why, "unknown hive " + shown("\\REGISTRY\\" + std::string(parts[1])) +
                                    " (" + kHives + ")");
        first = 2;
    } else {
        return invalid(why, "unknown hive " + shown(parts[0]) + " (" + kHives + ")");
    }

    for (std::size_t i = first; i < parts.size(); ++i) {
        if (parts[i].size() > kMaxKeyNameLength) {
            char limits[64];
            std::snprintf(limits, sizeof limits, " (%zu characters; at most %zu)", parts[i].size(),
                          kMaxKeyNameLength);
            return invalid(why, "key name too long: " + shown(parts[i]) + limits);
        }
        out.names.push_back(parts[i]);
    }
    return Status::Ok;
}

} // namespace kvr::reg::detail
