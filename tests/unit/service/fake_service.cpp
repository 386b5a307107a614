#include "tests/unit/service/fake_service.h"

#include "platform/service/service_control.h"

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kvr::test {

FakeService::FakeService(const std::string& name, Answer answer, bool silent)
    : answer_(std::move(answer)), silent_(silent) {
    const auto path = svc::controlSocketPath(name);
    if (!path) return;
    path_ = *path;
    std::filesystem::create_directories(path_.parent_path());
    std::filesystem::remove(path_);
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 8) != 0)
        return;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    stopRead_.reset(pipeFds[0]);
    stopWrite_.reset(pipeFds[1]);
    listen_ = std::move(fd);
    thread_ = std::thread([this] { serve(); });
}

FakeService::~FakeService() {
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!::write(stopWrite_.get(), &stop, 1);
        thread_.join();
    }
    if (!path_.empty()) std::filesystem::remove(path_);
}

std::vector<std::uint32_t> FakeService::controls() const {
    std::lock_guard lock(mutex_);
    return controls_;
}

FakeService::Answer FakeService::running() {
    return [](const std::vector<std::uint8_t>& request) {
        std::vector<std::uint8_t> out;
        if (!svc::decodeRequest(request.data(), request.size())) return out;
        svc::ControlResult r;
        r.error = svc::kErrorSuccess;
        r.status = {0x10, svc::kStateRunning, 7, 0, 0, 0, 0};
        std::uint8_t bytes[svc::kReplyBytes];
        svc::encodeReply(r, bytes);
        out.assign(bytes, bytes + sizeof bytes);
        return out;
    };
}

void FakeService::serve() {
    std::vector<UniqueFd> held; // silent mode keeps connections open unanswered
    for (;;) {
        pollfd pfds[2] = {{listen_.get(), POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
        if (::poll(pfds, 2, -1) < 0) continue;
        if (pfds[1].revents) return;
        UniqueFd conn(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!conn) continue;
        std::vector<std::uint8_t> request(64);
        const ssize_t got = ::recv(conn.get(), request.data(), request.size(), 0);
        request.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        if (const auto decoded = svc::decodeRequest(request.data(), request.size())) {
            std::lock_guard lock(mutex_);
            controls_.push_back(decoded->control);
        }
        if (silent_) {
            held.push_back(std::move(conn));
            continue;
        }
        const auto answer = answer_(request);
        if (!answer.empty()) (void)!::send(conn.get(), answer.data(), answer.size(), MSG_NOSIGNAL);
    }
}

} // namespace kvr::test
