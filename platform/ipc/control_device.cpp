#include "platform/ipc/control_device.h"

#include "platform/ipc/wire.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <vector>

namespace kvr::ipc {

// Connections to one control device. Each request borrows an idle connection (or opens a new
// one) for its whole exchange, so concurrent callers never read each other's replies and a
// slow request does not hold up the others.
struct ControlDevice::Impl {
    std::string path;
    std::mutex mutex; // guards idle
    std::vector<UniqueFd> idle;

    UniqueFd borrow(bool& reused) {
        {
            std::lock_guard lock(mutex);
            if (!idle.empty()) {
                UniqueFd fd = std::move(idle.back());
                idle.pop_back();
                reused = true;
                return fd;
            }
        }
        reused = false;
        return wire::connectTo(path);
    }
    void giveBack(UniqueFd fd) {
        std::lock_guard lock(mutex);
        idle.push_back(std::move(fd));
    }
};

namespace {

// Finds the socket whose name equals `bare` without regard to case (device names are not
// case-sensitive). Empty when there is none.
std::string findIgnoringCase(const std::string& dir, const std::string& bare) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) return {};
    while (dirent* e = ::readdir(d.get())) {
        if (e->d_name[0] == '.') continue;
        if (::strcasecmp(e->d_name, bare.c_str()) == 0) return dir + "/" + e->d_name;
    }
    return {};
}

// A connection to the control device `name` (its socket found without regard to case, as
// device names are); `path` gets the socket's path. Invalid when nobody serves it.
UniqueFd connectByName(std::string_view name, std::string& path) {
    auto bare = wire::bareName(name);
    auto exact = devicePath(name);
    if (!bare || !exact) return UniqueFd();
    path = *exact;
    UniqueFd fd = wire::connectTo(path);
    if (!fd && errno == ENOENT) {
        std::string other = findIgnoringCase(wire::deviceDir(), *bare);
        if (!other.empty()) {
            path = std::move(other);
            fd = wire::connectTo(path);
        }
    }
    return fd;
}

bool sendRequest(int fd, const wire::RequestHeader& header, const void* in, int passFd) {
    iovec parts[2] = {{const_cast<wire::RequestHeader*>(&header), sizeof header},
                      {const_cast<void*>(in), header.inLength}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = header.inLength > 0 ? 2 : 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (passFd >= 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof header + header.inLength);
}

// The caller's side of a call, checked before anything is sent; the refusal status if any.
std::optional<std::uint32_t> checkCall(const void* in, std::uint32_t inLength, const void* out,
                                       std::uint32_t outLength, int passFd) {
    if (inLength > kMaxTransfer || outLength > kMaxTransfer || (inLength > 0 && in == nullptr) ||
        (outLength > 0 && out == nullptr)) {
        return status::kInvalidParameter;
    }
    // A descriptor number that is not open in this process is a bad handle, as it would be
    // for the driver; it must not look like a broken connection.
    if (passFd >= 0 && ::fcntl(passFd, F_GETFD) < 0) return status::kInvalidHandle;
    return std::nullopt;
}

bool finishCall(std::uint32_t st, std::uint32_t copied, std::uint32_t* returned,
                std::uint32_t* statusOut) {
    if (returned) *returned = copied;
    if (statusOut) *statusOut = st;
    return isSuccess(st);
}

// One request and its reply on one connection.
struct Exchanged {
    bool sent = false;     // the request left (else nobody saw it)
    bool complete = false; // a well-formed reply came back
    std::uint32_t status = status::kPortDisconnected;
    std::uint32_t copied = 0; // reply bytes copied to the caller's buffer
};

Exchanged exchangeOn(int fd, const wire::RequestHeader& header, const void* in, int passFd,
                     void* out, std::uint32_t outLength) {
    Exchanged r;
    r.sent = sendRequest(fd, header, in, passFd);
    if (!r.sent) return r;
    const std::size_t bufLength = std::max(header.inLength, header.outLength);
    // One byte more than any valid reply, to tell an oversized reply from a full one.
    std::vector<std::uint8_t> reply(kReplyHeaderBytes + bufLength + 1);
    iovec iov{reply.data(), reply.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n < static_cast<ssize_t>(kReplyHeaderBytes) || (msg.msg_flags & MSG_TRUNC) != 0) return r;
    wire::ReplyHeader replyHeader{};
    std::memcpy(&replyHeader, reply.data(), sizeof replyHeader);
    const std::size_t payload = static_cast<std::size_t>(n) - kReplyHeaderBytes;
    if (payload != std::min<std::size_t>(replyHeader.information, bufLength)) return r;
    r.complete = true;
    r.status = replyHeader.status;
    if (!isError(replyHeader.status)) {
        r.copied = static_cast<std::uint32_t>(std::min<std::size_t>(payload, outLength));
        if (r.copied > 0) std::memcpy(out, reply.data() + kReplyHeaderBytes, r.copied);
    }
    return r;
}

} // namespace

ControlDevice::ControlDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ControlDevice::ControlDevice(ControlDevice&&) noexcept = default;
ControlDevice& ControlDevice::operator=(ControlDevice&&) noexcept = default;
ControlDevice::~ControlDevice() = default;

std::optional<ControlDevice> ControlDevice::open(std::string_view name) {
    std::string path;
    UniqueFd fd = connectByName(name, path);
    if (!fd) return std::nullopt;
    auto impl = std::make_unique<Impl>();
    impl->path = std::move(path);
    impl->idle.push_back(std::move(fd));
    return ControlDevice(std::move(impl));
}

bool ControlDevice::ioctl(std::uint32_t code, const void* in, std::uint32_t inLength, void* out,
                          std::uint32_t outLength, std::uint32_t* returned, int passFd,
                          std::uint32_t* statusOut) {
    if (!impl_) return finishCall(status::kInvalidHandle, 0, returned, statusOut);
    if (const auto refused = checkCall(in, inLength, out, outLength, passFd))
        return finishCall(*refused, 0, returned, statusOut);

    const wire::RequestHeader header{code, inLength, outLength};
    bool reused = false;
    UniqueFd fd = impl_->borrow(reused);
    if (!fd) return finishCall(status::kPortDisconnected, 0, returned, statusOut);
    Exchanged r = exchangeOn(fd.get(), header, in, passFd, out, outLength);
    if (!r.sent && reused) {
        // An idle connection may have been closed by a daemon that has since been restarted.
        // The request never reached anybody, so it is safe to send it once more on a fresh one.
        fd = wire::connectTo(impl_->path);
        if (fd) r = exchangeOn(fd.get(), header, in, passFd, out, outLength);
    }
    // A connection that failed mid-exchange is dropped with fd.
    if (!r.complete) return finishCall(status::kPortDisconnected, 0, returned, statusOut);
    impl_->giveBack(std::move(fd));
    return finishCall(r.status, r.copied, returned, statusOut);
}

void ControlDevice::close() {
    impl_.reset();
}

bool ControlDevice::isOpen() const {
    return impl_ != nullptr;
}

// ---- ControlConnection ------------------------------------------------------------------------

struct ControlConnection::Impl {
    std::mutex mutex; // one request at a time on the one connection
    UniqueFd fd;
};

ControlConnection::ControlConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ControlConnection::ControlConnection(ControlConnection&&) noexcept = default;
ControlConnection& ControlConnection::operator=(ControlConnection&&) noexcept = default;
ControlConnection::~ControlConnection() = default;

std::optional<ControlConnection> ControlConnection::open(std::string_view name) {
    std::string path;
    UniqueFd fd = connectByName(name, path);
    if (!fd) return std::nullopt;
    auto impl = std::make_unique<Impl>();
    impl->fd = std::move(fd);
    return ControlConnection(std::move(impl));
}

bool ControlConnection::ioctl(std::uint32_t code, const void* in, std::uint32_t inLength, void* out,
                              std::uint32_t outLength, std::uint32_t* returned, int passFd,
                              std::uint32_t* statusOut) {
    if (!impl_) return finishCall(status::kInvalidHandle, 0, returned, statusOut);
    if (const auto refused = checkCall(in, inLength, out, outLength, passFd))
        return finishCall(*refused, 0, returned, statusOut);
    std::lock_guard lock(impl_->mutex);
    if (!impl_->fd) return finishCall(status::kPortDisconnected, 0, returned, statusOut);
    const Exchanged r = exchangeOn(impl_->fd.get(), wire::RequestHeader{code, inLength, outLength},
                                   in, passFd, out, outLength);
    if (!r.complete) {
        // The server has gone (or broke the frame rules): this connection is over.
        impl_->fd.reset();
        return finishCall(status::kPortDisconnected, 0, returned, statusOut);
    }
    return finishCall(r.status, r.copied, returned, statusOut);
}

bool ControlConnection::ended() const {
    if (!impl_) return true;
    std::lock_guard lock(impl_->mutex);
    if (!impl_->fd) return true;
    // The server never sends unasked: anything to read on an idle connection is its end.
    pollfd p{impl_->fd.get(), POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) != 0;
}

int ControlConnection::fd() const {
    if (!impl_) return -1;
    std::lock_guard lock(impl_->mutex);
    return impl_->fd.get();
}

DeviceReachReport probeDevice(std::string_view name) {
    DeviceReachReport report;
    std::string path;
    if (connectByName(name, path)) {
        report.reach = DeviceReach::Served;
        return report;
    }
    if (errno != EACCES && errno != EPERM) return report;
    report.reach = DeviceReach::AccessDenied;
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
        group buffer{};
        std::vector<char> text(4096);
        group* found = nullptr;
        if (::getgrgid_r(st.st_gid, &buffer, text.data(), text.size(), &found) == 0 && found)
            report.group = found->gr_name;
        else
            report.group = std::to_string(st.st_gid);
    }
    return report;
}

} // namespace kvr::ipc
