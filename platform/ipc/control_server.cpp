#include "platform/clock/clock.h"
#include "platform/common/log.h"
#include "platform/common/paths.h"
#include "platform/ipc/control_device.h"
#include "platform/ipc/wire.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <list>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kvr::ipc {
namespace {

// Connections beyond this are refused (closed at once) so that a misbehaving client cannot
// make the daemon start threads without end.
constexpr std::size_t kMaxConnections = 512;
// Room for a few descriptors: a request carries at most one, but everything that arrives has
// to be received to be closed.
constexpr std::size_t kMaxFdsReceived = 8;

std::string errnoText(int err) {
    return std::strerror(err);
}

void signalFd(int fd) {
    const std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void drainFd(int fd) {
    std::uint64_t v = 0;
    while (::read(fd, &v, sizeof v) < 0 && errno == EINTR) {
    }
}

bool lookUpGroup(const std::string& name, gid_t& gid) {
    std::vector<char> buf(16384);
    group g{};
    group* found = nullptr;
    for (;;) {
        int rc = ::getgrnam_r(name.c_str(), &g, buf.data(), buf.size(), &found);
        if (rc == ERANGE && buf.size() < (1U << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr) return false;
        gid = found->gr_gid;
        return true;
    }
}

} // namespace

struct Connection {
    std::uint64_t id = 0;
    UniqueFd fd;
    PeerTrust peer = PeerTrust::Other;
    std::thread thread;
    std::atomic<bool> finished{false};
};

struct ControlServer::Impl {
    std::string name;
    std::string path;
    Dispatch dispatch;
    ConnectionClosed closed;
    std::uint64_t nextConnection = 1; // under mutex
    UniqueFd lockFd;                  // flock held while this server owns the name
    UniqueFd listenFd;
    UniqueFd stopFd; // eventfd: tells the accept loop to end
    UniqueFd reapFd; // eventfd: a connection thread has finished
    dev_t socketDev = 0;
    ino_t socketIno = 0;
    gid_t group = 0; // the socket's group: its members may change state
    std::thread acceptThread;

    mutable std::mutex mutex; // guards connections and stopping
    std::list<std::unique_ptr<Connection>> connections;
    bool stopping = false;
    std::atomic<bool> stopped{false};

    void acceptLoop();
    void acceptOne();
    void reapFinished(std::list<std::unique_ptr<Connection>>& done);
    void serve(Connection& conn);
    bool serveOne(Connection& conn, std::vector<std::uint8_t>& message,
                  std::vector<std::uint8_t>& buffer);
    void announceClosed(std::uint64_t id);
};

void ControlServer::Impl::acceptLoop() {
    for (;;) {
        pollfd fds[3] = {
            {stopFd.get(), POLLIN, 0}, {listenFd.get(), POLLIN, 0}, {reapFd.get(), POLLIN, 0}};
        int r = ::poll(fds, 3, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            KVR_LOG_ERROR("%s: waiting for connections failed: %s", name.c_str(),
                          errnoText(errno).c_str());
            return;
        }
        if (fds[0].revents != 0) return;
        if (fds[2].revents != 0) {
            drainFd(reapFd.get());
            std::list<std::unique_ptr<Connection>> done;
            {
                std::lock_guard lock(mutex);
                reapFinished(done);
            }
            for (auto& c : done)
                c->thread.join();
        }
        if (fds[1].revents != 0) acceptOne();
    }
}

// Moves the finished connections into `done` (joined by the caller, outside the lock).
void ControlServer::Impl::reapFinished(std::list<std::unique_ptr<Connection>>& done) {
    for (auto it = connections.begin(); it != connections.end();) {
        if ((*it)->finished.load()) {
            done.push_back(std::move(*it));
            it = connections.erase(it);
        } else {
            ++it;
        }
    }
}

void ControlServer::Impl::acceptOne() {
    UniqueFd fd(::accept4(listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd) {
        if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
            KVR_LOG_WARN("%s: accepting a connection failed: %s", name.c_str(),
                         errnoText(errno).c_str());
            // Out of descriptors, for example: do not spin on a socket that stays readable.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                kvr::clock::sleepFor(std::chrono::milliseconds(10));
            }
        }
        return;
    }
    std::lock_guard lock(mutex);
    if (stopping) return;
    std::size_t live = 0;
    for (auto& c : connections)
        live += c->finished.load() ? 0 : 1;
    if (live >= kMaxConnections) {
        KVR_LOG_WARN("%s: %zu connections open, refusing another", name.c_str(), live);
        return;
    }
    auto conn = std::make_unique<Connection>();
    conn->id = nextConnection++;
    conn->peer = judgeSocketPeer(fd.get(), group);
    conn->fd = std::move(fd);
    Connection& ref = *conn;
    try {
        conn->thread = std::thread([this, &ref] { serve(ref); });
    } catch (const std::exception& e) {
        KVR_LOG_WARN("%s: cannot start a connection thread: %s", name.c_str(), e.what());
        return;
    }
    connections.push_back(std::move(conn));
}

void ControlServer::Impl::serve(Connection& conn) {
    std::vector<std::uint8_t> message(kRequestHeaderBytes + kMaxTransfer);
    std::vector<std::uint8_t> buffer;
    try {
        while (serveOne(conn, message, buffer)) {
        }
    } catch (const std::exception& e) {
        KVR_LOG_ERROR("%s: connection ended: %s", name.c_str(), e.what());
    }
    // The client sees the end at once; the descriptor itself stays open until the thread is
    // joined, so its number cannot be reused while stop() might still shut it down.
    ::shutdown(conn.fd.get(), SHUT_RDWR);
    announceClosed(conn.id);
    conn.finished.store(true);
    signalFd(reapFd.get());
}

void ControlServer::Impl::announceClosed(std::uint64_t id) {
    if (!closed) return;
    try {
        closed(id);
    } catch (const std::exception& e) {
        KVR_LOG_ERROR("%s: releasing connection %llu failed: %s", name.c_str(),
                      static_cast<unsigned long long>(id), e.what());
    } catch (...) {
        KVR_LOG_ERROR("%s: releasing connection %llu failed", name.c_str(),
                      static_cast<unsigned long long>(id));
    }
}

// Receives one request, dispatches it and sends the reply. False when the connection ends
// (closed by the client, malformed frame, send failure, server stopping).
bool ControlServer::Impl::serveOne(Connection& conn, std::vector<std::uint8_t>& message,
                                   std::vector<std::uint8_t>& buffer) {
    const int fd = conn.fd.get();
    iovec iov{message.data(), message.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxFdsReceived)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false; // end of stream, or the server is shutting the socket

    // Take ownership of every descriptor that arrived before judging anything, so that none
    // leaks whatever the verdict.
    std::vector<UniqueFd> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            fds.emplace_back(received);
        }
    }

    const char* fault = nullptr;
    wire::RequestHeader header{};
    auto length = static_cast<std::size_t>(n);
    if ((msg.msg_flags & MSG_TRUNC) != 0) {
        fault = "message longer than the largest request";
    } else if ((msg.msg_flags & MSG_CTRUNC) != 0 || fds.size() > 1) {
        fault = "more than one descriptor";
    } else if (length < kRequestHeaderBytes) {
        fault = "message shorter than the request header";
    } else {
        std::memcpy(&header, message.data(), sizeof header);
        if (header.inLength > kMaxTransfer || header.outLength > kMaxTransfer) {
            fault = "length above the largest transfer";
        } else if (length - kRequestHeaderBytes != header.inLength) {
            fault = "input length does not match the message";
        }
    }
    if (fault != nullptr) {
        KVR_LOG_WARN("%s: malformed request (%s); closing that connection", name.c_str(), fault);
        return false;
    }

    const std::size_t bufLength = std::max(header.inLength, header.outLength);
    buffer.assign(bufLength, 0);
    if (header.inLength > 0) {
        std::memcpy(buffer.data(), message.data() + kRequestHeaderBytes, header.inLength);
    }
    Request request;
    request.code = header.code;
    request.inLength = header.inLength;
    request.outLength = header.outLength;
    request.buffer = std::span<std::uint8_t>(buffer.data(), bufLength);
    request.connection = conn.id;
    request.peer = conn.peer;
    if (!fds.empty()) request.passedFd = std::move(fds.front());

    Reply reply{status::kUnsuccessful, 0};
    try {
        if (dispatch) reply = dispatch(request);
    } catch (const std::exception& e) {
        KVR_LOG_ERROR("%s: request 0x%X failed: %s", name.c_str(), header.code, e.what());
        reply = Reply{status::kUnsuccessful, 0};
    } catch (...) {
        KVR_LOG_ERROR("%s: request 0x%X failed", name.c_str(), header.code);
        reply = Reply{status::kUnsuccessful, 0};
    }

    wire::ReplyHeader out{reply.status, reply.information};
    std::size_t payload = std::min<std::size_t>(reply.information, bufLength);
    iovec parts[2] = {{&out, sizeof out}, {buffer.data(), payload}};
    msghdr sendMsg{};
    sendMsg.msg_iov = parts;
    sendMsg.msg_iovlen = payload > 0 ? 2 : 1;
    ssize_t sent;
    do {
        sent = ::sendmsg(fd, &sendMsg, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof out + payload);
}

ControlServer::ControlServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ControlServer::~ControlServer() {
    stop();
}

bool ControlServer::canServe(const std::string& name, std::string& error) {
    const auto bare = wire::bareName(name);
    if (!bare) {
        error = "\"" + name + "\" is not a usable control device name";
        return false;
    }
    // The socket and the private name it is first bound under must fit a socket address;
    // checked before anything is created.
    const std::string longest =
        wire::deviceDir(/*create=*/false) + "/." + *bare + "." + std::to_string(::getpid());
    if (!devicePath(name) || longest.size() >= sizeof(sockaddr_un::sun_path)) {
        error = "the runtime folder " + paths::runtimeDir().string() +
                " is too deep: its socket paths would exceed " +
                std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                " bytes (set KVR_RUNTIME_DIR to a shorter path)";
        return false;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(wire::deviceDir(/*create=*/true), ec)) {
        error = "cannot create the folder " + wire::deviceDir(false) + " in the runtime folder";
        return false;
    }
    return true;
}

std::unique_ptr<ControlServer> ControlServer::start(std::string name, Dispatch dispatch,
                                                    std::string group, std::string& error,
                                                    ConnectionClosed closed) {
    if (!canServe(name, error)) return nullptr;
    const auto bare = wire::bareName(name);
    const std::string dir = wire::deviceDir(/*create=*/true);
    auto path = devicePath(name);
    auto impl = std::make_unique<Impl>();
    impl->name = *bare;
    impl->path = *path;
    impl->dispatch = std::move(dispatch);
    impl->closed = std::move(closed);

    // One server per name: the lock is held for the server's life and dies with its process,
    // so a socket left by a crashed daemon is known to be stale.
    const std::string lockPath = dir + "/." + *bare + ".lock";
    impl->lockFd = UniqueFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660));
    if (!impl->lockFd) {
        error = "cannot create " + lockPath + ": " + errnoText(errno);
        return nullptr;
    }
    if (::flock(impl->lockFd.get(), LOCK_EX | LOCK_NB) != 0) {
        error = (errno == EWOULDBLOCK) ? "control device " + *bare + " is already served"
                                       : "cannot lock " + lockPath + ": " + errnoText(errno);
        return nullptr;
    }

    gid_t gid = ::getegid();
    if (!group.empty() && !lookUpGroup(group, gid)) {
        error = "no group named \"" + group + "\"";
        return nullptr;
    }
    impl->group = gid;

    impl->stopFd = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    impl->reapFd = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    impl->listenFd = UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!impl->stopFd || !impl->reapFd || !impl->listenFd) {
        error = "cannot create sockets: " + errnoText(errno);
        return nullptr;
    }

    // Bind under a private name, set mode and group, then rename into place: clients never
    // see the socket with the wrong permissions, and a stale socket is replaced in one step.
    const std::string tmpPath = dir + "/." + *bare + "." + std::to_string(::getpid());
    sockaddr_un addr{};
    if (tmpPath.size() >= sizeof addr.sun_path) {
        error = "socket path too long: " + tmpPath;
        return nullptr;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, tmpPath.data(), tmpPath.size());
    ::unlink(tmpPath.c_str());
    if (::bind(impl->listenFd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error = "cannot bind " + tmpPath + ": " + errnoText(errno);
        return nullptr;
    }
    auto fail = [&](const std::string& what) {
        error = what + ": " + errnoText(errno);
        ::unlink(tmpPath.c_str());
        return nullptr;
    };
    if (::chmod(tmpPath.c_str(), 0660) != 0) return fail("cannot set the mode of " + tmpPath);
    if (!group.empty() && ::chown(tmpPath.c_str(), static_cast<uid_t>(-1), gid) != 0) {
        return fail("cannot give " + tmpPath + " to group " + group);
    }
    if (::listen(impl->listenFd.get(), SOMAXCONN) != 0) return fail("cannot listen on " + tmpPath);
    struct stat st {};
    if (::stat(tmpPath.c_str(), &st) != 0) return fail("cannot examine " + tmpPath);
    impl->socketDev = st.st_dev;
    impl->socketIno = st.st_ino;
    if (::rename(tmpPath.c_str(), impl->path.c_str()) != 0) {
        return fail("cannot create " + impl->path);
    }

    Impl* raw = impl.get();
    try {
        impl->acceptThread = std::thread([raw] { raw->acceptLoop(); });
    } catch (const std::exception& e) {
        ::unlink(impl->path.c_str());
        error = std::string("cannot start the server thread: ") + e.what();
        return nullptr;
    }
    return std::unique_ptr<ControlServer>(new ControlServer(std::move(impl)));
}

void ControlServer::stop() {
    if (!impl_ || impl_->stopped.exchange(true)) return;
    Impl& s = *impl_;

    // No new clients: the name goes first (only if it is still ours), then the accept loop.
    struct stat st {};
    if (::lstat(s.path.c_str(), &st) == 0 && st.st_dev == s.socketDev && st.st_ino == s.socketIno) {
        ::unlink(s.path.c_str());
    }
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    signalFd(s.stopFd.get());
    if (s.acceptThread.joinable()) s.acceptThread.join();
    s.listenFd.reset(); // clients still in the backlog are refused

    // Wake every connection thread: a blocked receive returns end-of-stream, a reply being
    // sent fails. Then wait for them (and for any dispatch in progress).
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard lock(s.mutex);
        for (auto& c : s.connections)
            ::shutdown(c->fd.get(), SHUT_RDWR);
        all.swap(s.connections);
    }
    for (auto& c : all) {
        if (c->thread.joinable()) c->thread.join();
    }
    s.lockFd.reset();
}

const std::string& ControlServer::path() const {
    return impl_->path;
}

std::size_t ControlServer::connectionCount() const {
    std::lock_guard lock(impl_->mutex);
    std::size_t live = 0;
    for (auto& c : impl_->connections)
        live += c->finished.load() ? 0 : 1;
    return live;
}

} // namespace kvr::ipc
