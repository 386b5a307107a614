#include "platform/common/paths.h"

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <system_error>
#include <vector>

namespace kvr::paths {
namespace {

std::filesystem::path fromEnv(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v != nullptr && *v != '\0') ? std::filesystem::path(v)
                                        : std::filesystem::path(fallback);
}

} // namespace

std::filesystem::path stateDir() {
    return fromEnv("KVR_STATE_DIR", "/var/lib/lumarcon");
}
std::filesystem::path runtimeDir() {
    return fromEnv("KVR_RUNTIME_DIR", "/run/lumarcon");
}

std::filesystem::path configDir() {
    return fromEnv("KVR_CONFIG_DIR", "/etc/lumarcon");
}

std::filesystem::path findConfigFile(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path local(name);
    if (std::filesystem::exists(local, ec)) return local;
    auto configured = configDir() / name;
    if (std::filesystem::exists(configured, ec)) return configured;
    return local;
}

bool ensureDir(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::is_directory(dir, ec);
}

std::filesystem::path stateSubdir(const std::string& name) {
    auto p = stateDir() / name;
    ensureDir(p);
    return p;
}

std::filesystem::path runtimeSubdir(const std::string& name) {
    auto p = runtimeDir() / name;
    ensureDir(p);
    return p;
}

std::optional<gid_t> suiteGroupId() {
    try {
        std::vector<char> buffer(4096);
        for (;;) {
            group entry{};
            group* found = nullptr;
            const int rc = ::getgrnam_r(kSuiteGroup, &entry, buffer.data(), buffer.size(), &found);
            if (rc == ERANGE && buffer.size() < (1U << 20)) {
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (rc != 0 || found == nullptr) return std::nullopt;
            return found->gr_gid;
        }
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace kvr::paths
