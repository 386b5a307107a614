#include "platform/registry/registry_path.h"

namespace kvr::reg::detail {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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

Status parsePath(std::string_view path, ParsedPath& out) {
    out.names.clear();
    if (path.find('\0') != std::string_view::npos) return Status::InvalidArgument;

    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) parts.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    if (parts.empty()) return Status::InvalidArgument;

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
            return Status::InvalidArgument;
        first = 2;
    } else {
        return Status::InvalidArgument;
    }

    for (std::size_t i = first; i < parts.size(); ++i) {
        if (parts[i].size() > kMaxKeyNameLength) return Status::InvalidArgument;
        out.names.push_back(parts[i]);
    }
    return Status::Ok;
}

} // namespace kvr::reg::detail
