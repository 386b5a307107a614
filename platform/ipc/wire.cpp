#include "platform/ipc/wire.h"

#include "platform/common/paths.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/un.h>

namespace kvr::ipc::wire {

std::optional<std::string> bareName(std::string_view name) {
    static constexpr std::string_view kPrefix = "\\\\.\\";
    if (name.substr(0, kPrefix.size()) == kPrefix) name.remove_prefix(kPrefix.size());
    // A leading dot would reach the server's private lock and temporary files.
    if (name.empty() || name.front() == '.') return std::nullopt;
    for (char c : name) {
        if (c == '/' || c == '\\' || c == '\0' || static_cast<unsigned char>(c) < 0x20) {
            return std::nullopt;
        }
    }
    return std::string(name);
}

std::string deviceDir(bool create) {
    return (create ? kvr::paths::runtimeSubdir("dev") : kvr::paths::runtimeDir() / "dev").string();
}

UniqueFd connectTo(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return UniqueFd();
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd) return fd;
    for (;;) {
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            return fd;
        }
        if (errno == EISCONN) return fd; // an interrupted connect that completed meanwhile
        if (errno != EINTR) return UniqueFd();
    }
}

} // namespace kvr::ipc::wire

namespace kvr::ipc {

std::optional<std::string> devicePath(std::string_view name) {
    auto bare = wire::bareName(name);
    if (!bare) return std::nullopt;
    std::string path = wire::deviceDir() + "/" + *bare;
    if (path.size() >= sizeof(sockaddr_un::sun_path)) return std::nullopt;
    return path;
}

} // namespace kvr::ipc
