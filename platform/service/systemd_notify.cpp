#include "platform/service/systemd_notify.h"

#include "platform/common/unique_fd.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace kvr::svc {

bool notifySystemd(std::string_view state) {
    const char* target = std::getenv("NOTIFY_SOCKET");
    if (target == nullptr || target[0] == '\0' || state.empty()) return false;
    const std::string path(target);
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return false;
    // Only a path or an abstract name (systemd never hands out anything else, e.g. vsock).
    if (path[0] != '/' && path[0] != '@') return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    if (path[0] == '@') {
        addr.sun_path[0] = '\0'; // abstract: the name is exactly the bytes given
    } else {
        length += 1; // the path's terminating zero
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    const ssize_t sent = ::sendto(fd.get(), state.data(), state.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&addr), length);
    return sent == static_cast<ssize_t>(state.size());
}

} // namespace kvr::svc
