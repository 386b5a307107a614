#include "emulator/control_client.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace kvr::emu {

std::unique_ptr<ControlClient> ControlClient::connect(const std::filesystem::path& socket,
                                                      std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket.native().size() >= sizeof addr.sun_path) {
        *error = "control socket path too long: " + socket.string();
        return nullptr;
    }
    std::strcpy(addr.sun_path, socket.c_str());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        *error = "cannot reach " + socket.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<ControlClient>(new ControlClient(std::move(fd)));
}

std::string ControlClient::say(const std::string& line, std::chrono::milliseconds deadline) {
    const std::string text = line + "\n";
    size_t off = 0;
    while (off < text.size()) {
        const ssize_t n = ::send(fd_.get(), text.data() + off, text.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        off += static_cast<size_t>(n);
    }
    return readLine(deadline);
}

std::string ControlClient::readLine(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (const auto nl = pending_.find('\n'); nl != std::string::npos) {
            std::string answer = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return answer;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        pollfd p{fd_.get(), POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return {};
        char buf[4096];
        const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        pending_.append(buf, static_cast<size_t>(n));
    }
}

} // namespace kvr::emu
