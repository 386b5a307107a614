#include "platform/common/run_as.h"

#include "platform/common/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvr::paths {
namespace {

std::string userName(uid_t uid) {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::to_string(uid);
}

} // namespace

std::string rootRunRefusal(std::string_view program, std::string_view unit) {
    if (::geteuid() != 0) return {};
    try {
        for (const auto& dir : {runtimeDir(), stateDir()}) {
            struct stat st {};
            if (::stat(dir.c_str(), &st) != 0 || st.st_uid == 0) continue;
            const std::string user = userName(st.st_uid);
            return "running as root would leave files in " + dir.string() + " that its owner " +
                   user + " cannot use: start it with 'systemctl start " + std::string(unit) +
                   "', or run it as that user ('runuser -u " + user + " -- " +
                   std::string(program) + " ...')";
        }
    } catch (...) {
    }
    return {};
}

} // namespace kvr::paths
