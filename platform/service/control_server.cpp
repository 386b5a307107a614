#include "platform/service/control_server.h"

#include "platform/common/log.h"
#include "platform/common/paths.h"
#include "platform/common/unique_fd.h"
#include "platform/ipc/peer_credentials.h"
#include "platform/service/event_log.h"
#include "platform/service/service_manager.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace kvr::svc {

// The dispatcher's shared state; the handle a service gets is this record.
class StatusHandle {
public:
    std::string name;
    std::mutex lock; // guards everything below
    HandlerFunction handler;
    bool handlerRegistered = false;
    ServiceStatus status;
    bool pendingSignalStop = false; // a SIGTERM/SIGINT that waits for the service to run
    bool pendingSignalShutdown = false;
    UniqueFd notify; // eventfd: the main loop looks again at the state
    gid_t group = 0; // the control socket's group: its members may send user controls
};

namespace {

using Clock = std::chrono::steady_clock;

// A connection that has not sent its request within this time is dropped, so that a silent
// client never holds a slot for long; at most this many wait at once (the oldest goes first).
constexpr auto kRequestTimeLimit = std::chrono::seconds(2);
constexpr std::size_t kMaxPendingConnections = 32;

std::mutex g_dispatcherLock;
StatusHandle* g_dispatcher = nullptr; // the running dispatcher's state

// errno as text, safe on any thread.
std::string errnoText(int error) {
    char buffer[128];
    return ::strerror_r(error, buffer, sizeof buffer); // GNU form: returns the text
}

std::uint32_t fail(std::uint32_t error) {
    setLastError(error);
    return error;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

void poke(const UniqueFd& fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd.get(), &one, sizeof one);
}

void drain(const UniqueFd& fd) {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd.get(), &value, sizeof value);
}

// The listening socket and the lock that makes this process its only owner.
struct ControlSocket {
    UniqueFd lockFd;
    UniqueFd listenFd;
    std::string path;
    gid_t group = 0;

    ~ControlSocket() {
        if (listenFd) ::unlink(path.c_str());
    }
};

// One lock file per service name (without case, as names compare): whoever holds it owns
// the socket, so two instances never both serve it.
std::string lockFilePath(const std::filesystem::path& socketPath, std::string_view name) {
    std::string lockName = "." + std::string(name) + ".lock";
    std::transform(lockName.begin(), lockName.end(), lockName.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; });
    return (socketPath.parent_path() / lockName).string();
}

std::uint32_t openControlSocket(std::string_view name, ControlSocket& out) {
    const auto path = controlSocketPath(name);
    if (!path) return kErrorInvalidName;
    paths::ensureDir(path->parent_path());
    out.path = path->string();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (out.path.size() >= sizeof addr.sun_path) {
        KVR_LOG_ERROR("service: control socket path too long: %s", out.path.c_str());
        return kErrorInvalidName;
    }
    std::memcpy(addr.sun_path, out.path.c_str(), out.path.size() + 1);

    const std::string lockPath = lockFilePath(*path, name);
    out.lockFd = UniqueFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660));
    if (!out.lockFd) {
        KVR_LOG_ERROR("service: cannot open %s: %s", lockPath.c_str(), errnoText(errno).c_str());
        return kErrorAccessDenied;
    }
    if (::flock(out.lockFd.get(), LOCK_EX | LOCK_NB) != 0) return kErrorServiceAlreadyRunning;

    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return kErrorAccessDenied;
    ::unlink(out.path.c_str()); // left by an instance that ended without cleaning up
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 16) != 0) {
        KVR_LOG_ERROR("service: cannot listen on %s: %s", out.path.c_str(),
                      errnoText(errno).c_str());
        return kErrorAccessDenied;
    }
    // Open to the suite's group only (mode 0660, the group lumarcon when the system has it
    // and this process may give it); the dispatcher decides which controls it takes from whom.
    out.group = ::getegid();
    if (const auto group = paths::suiteGroupId();
        group && ::chown(out.path.c_str(), static_cast<uid_t>(-1), *group) == 0)
        out.group = *group;
    if (::chmod(out.path.c_str(), 0660) != 0) {
        KVR_LOG_ERROR("service: cannot set the mode of %s: %s", out.path.c_str(),
                      errnoText(errno).c_str());
        ::unlink(out.path.c_str());
        return kErrorAccessDenied;
    }
    out.listenFd = std::move(fd);
    return kErrorSuccess;
}

// The dispatcher's verdict on a control, from the status as it stands and who sent it.
std::uint32_t admit(StatusHandle& d, std::uint32_t code, ipc::PeerTrust peer) {
    std::lock_guard lock(d.lock);
    if (!d.handlerRegistered) return kErrorServiceCannotAcceptControl;
    const std::uint32_t state = d.status.currentState;
    if (code == kControlInterrogate) return kErrorSuccess;
    if (state == kStateStopped) return kErrorServiceNotActive;
    if (state == kStateStartPending || state == kStateStopPending)
        return kErrorServiceCannotAcceptControl;
    const std::uint32_t accepted = d.status.controlsAccepted;
    std::uint32_t needed = 0;
    switch (code) {
    case kControlStop:
        needed = 0x1;
        break;
    case kControlPause:
    case kControlContinue:
        needed = 0x2;
        break;
    case kControlShutdown:
        needed = 0x4;
        break;
    default:
        if (code < kFirstUserControl || code > kLastUserControl) return kErrorInvalidServiceControl;
        // User controls change settings: the group's members (the library in their programs).
        return peer == ipc::PeerTrust::Other ? kErrorAccessDenied : kErrorSuccess;
    }
    if ((accepted & needed) == 0) return kErrorInvalidServiceControl;
    // The service manager's own controls: root, or the user the service runs as.
    return peer == ipc::PeerTrust::Owner ? kErrorSuccess : kErrorAccessDenied;
}

void callHandler(StatusHandle& d, std::uint32_t code) {
    HandlerFunction handler;
    {
        std::lock_guard lock(d.lock);
        handler = d.handler;
    }
    if (!handler) return;
    try {
        handler(code);
    } catch (const std::exception& e) {
        traceLine(d.name, std::string("service: the control handler failed: ") + e.what());
    } catch (...) {
        traceLine(d.name, "service: the control handler failed");
    }
}

ServiceStatus currentStatus(StatusHandle& d) {
    std::lock_guard lock(d.lock);
    return d.status;
}

// Reads the one request of a connection, hands it over and answers.
void serveRequest(StatusHandle& d, int fd) {
    std::uint8_t buffer[kRequestBytes + 1];
    ssize_t got;
    do {
        got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return;
    const auto request = decodeRequest(buffer, static_cast<std::size_t>(got));
    if (!request) return; // not a control: closed without an answer

    ControlResult reply;
    reply.error = admit(d, request->control, ipc::judgeSocketPeer(fd, d.group));
    if (reply.error == kErrorSuccess) callHandler(d, request->control);
    reply.status = currentStatus(d);
    std::uint8_t out[kReplyBytes];
    encodeReply(reply, out);
    ssize_t sent;
    do {
        sent = ::send(fd, out, sizeof out, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
}

// A signal's controls, delivered once the service runs; called on the main thread.
void deliverPendingSignal(StatusHandle& d) {
    bool stop = false;
    bool shutdown = false;
    {
        std::lock_guard lock(d.lock);
        if (!d.pendingSignalStop || !d.handlerRegistered) return;
        const std::uint32_t state = d.status.currentState;
        if (state == kStateStartPending) return; // wait until it runs
        d.pendingSignalStop = false;
        if (state == kStateStopped || state == kStateStopPending) {
            d.pendingSignalShutdown = false;
            return; // stopping or stopped already
        }
        shutdown = d.pendingSignalShutdown && (d.status.controlsAccepted & 0x4) != 0;
        stop = (d.status.controlsAccepted & 0x1) != 0;
        d.pendingSignalShutdown = false;
    }
    if (shutdown) callHandler(d, kControlShutdown);
    if (stop) callHandler(d, kControlStop);
}

struct SignalBlock {
    sigset_t wanted{};
    sigset_t previous{};
    SignalBlock() {
        sigemptyset(&wanted);
        sigaddset(&wanted, SIGTERM);
        sigaddset(&wanted, SIGINT);
        pthread_sigmask(SIG_BLOCK, &wanted, &previous);
    }
    ~SignalBlock() {
        // Signals that came after the service stopped are dropped, not acted on by default.
        timespec zero{};
        while (sigtimedwait(&wanted, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
};

} // namespace

std::filesystem::path shutdownFlagPath() {
    return paths::runtimeDir() / "shutdown";
}

bool systemShuttingDown() {
    std::error_code ec;
    return std::filesystem::exists(shutdownFlagPath(), ec);
}

bool waitForServiceEnd(std::string_view name, std::chrono::milliseconds timeout) {
    const auto path = controlSocketPath(name);
    if (!path) return true;
    UniqueFd fd(::open(lockFilePath(*path, name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return true; // never served here
    // flock has no time limit: look again at short intervals until the deadline.
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) {
            ::flock(fd.get(), LOCK_UN);
            return true;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

StatusHandle* registerServiceCtrlHandler(std::string_view name, HandlerFunction handler) {
    std::lock_guard global(g_dispatcherLock);
    if (g_dispatcher == nullptr) {
        setLastError(kErrorFailedServiceControllerConnect);
        return nullptr;
    }
    if (!equalNoCase(name, g_dispatcher->name)) {
        setLastError(kErrorServiceDoesNotExist);
        return nullptr;
    }
    {
        std::lock_guard lock(g_dispatcher->lock);
        g_dispatcher->handler = std::move(handler);
        g_dispatcher->handlerRegistered = true;
    }
    poke(g_dispatcher->notify);
    setLastError(kErrorSuccess);
    return g_dispatcher;
}

bool setServiceStatus(StatusHandle* handle, const ServiceStatus& status) {
    std::lock_guard global(g_dispatcherLock);
    if (handle == nullptr || handle != g_dispatcher) {
        setLastError(6); // ERROR_INVALID_HANDLE
        return false;
    }
    {
        std::lock_guard lock(handle->lock);
        handle->status = status;
    }
    poke(handle->notify);
    setLastError(kErrorSuccess);
    return true;
}

unsigned long statusHandleId(const StatusHandle* handle) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(handle));
}

std::uint32_t startServiceCtrlDispatcher(std::string_view name, ServiceMainFunction serviceMain) {
    if (::isatty(STDIN_FILENO)) return fail(kErrorFailedServiceControllerConnect);
    if (!serviceMain) return fail(kErrorInvalidParameter);

    StatusHandle state;
    state.name = std::string(name);
    state.status.serviceType = kServiceWin32OwnProcess;
    state.status.currentState = kStateStartPending; // what the manager shows until it reports
    state.notify = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!state.notify) return fail(kErrorAccessDenied);

    ControlSocket socket;
    {
        std::lock_guard global(g_dispatcherLock);
        if (g_dispatcher != nullptr) return fail(kErrorServiceAlreadyRunning);
        if (const std::uint32_t e = openControlSocket(name, socket); e != kErrorSuccess)
            return fail(e);
        state.group = socket.group;
        g_dispatcher = &state;
    }

    SignalBlock signals;
    UniqueFd sigFd(::signalfd(-1, &signals.wanted, SFD_CLOEXEC | SFD_NONBLOCK));

    std::atomic<bool> mainReturned{false};
    std::thread serviceThread;
    try {
        serviceThread = std::thread([&] {
            std::string arg0 = state.name;
            char* argv[] = {arg0.data(), nullptr};
            try {
                serviceMain(1, argv);
            } catch (const std::exception& e) {
                traceLine(state.name, std::string("service: the service main failed: ") + e.what());
            } catch (...) {
                traceLine(state.name, "service: the service main failed");
            }
            mainReturned = true;
            poke(state.notify);
        });
    } catch (...) {
        std::lock_guard global(g_dispatcherLock);
        g_dispatcher = nullptr;
        return fail(kErrorAccessDenied);
    }

    struct Pending {
        UniqueFd fd;
        Clock::time_point since;
    };
    std::deque<Pending> pending;
    std::vector<pollfd> fds;
    while (!mainReturned) {
        fds.clear();
        fds.push_back({state.notify.get(), POLLIN, 0});
        fds.push_back({socket.listenFd.get(), POLLIN, 0});
        fds.push_back({sigFd.get(), POLLIN, 0});
        for (const Pending& p : pending)
            fds.push_back({p.fd.get(), POLLIN, 0});
        int timeoutMs = -1;
        if (!pending.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                pending.front().since + kRequestTimeLimit - Clock::now());
            timeoutMs = static_cast<int>(std::max<long long>(left.count(), 0));
        }
        const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) {
            KVR_LOG_ERROR("service: poll failed: %s", errnoText(errno).c_str());
            break;
        }
        if (fds[0].revents & POLLIN) drain(state.notify);

        if (sigFd && (fds[2].revents & POLLIN)) {
            signalfd_siginfo info{};
            while (::read(sigFd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                const bool shutdown = info.ssi_signo == SIGTERM && systemShuttingDown();
                std::lock_guard lock(state.lock);
                state.pendingSignalStop = true;
                state.pendingSignalShutdown = state.pendingSignalShutdown || shutdown;
            }
        }
        deliverPendingSignal(state);

        // Requests of connections that have sent theirs, oldest first.
        for (std::size_t i = 0; i < pending.size();) {
            const short revents = fds[3 + i].revents;
            if (revents != 0) {
                serveRequest(state, pending[i].fd.get());
                pending.erase(pending.begin() + static_cast<long>(i));
                fds.erase(fds.begin() + 3 + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        while (!pending.empty() && Clock::now() - pending.front().since >= kRequestTimeLimit)
            pending.pop_front();

        if (fds[1].revents & POLLIN) {
            for (;;) {
                UniqueFd conn(::accept4(socket.listenFd.get(), nullptr, nullptr,
                                        SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (!conn) break;
                if (pending.size() >= kMaxPendingConnections) pending.pop_front();
                pending.push_back({std::move(conn), Clock::now()});
            }
        }
    }

    serviceThread.join();
    {
        std::lock_guard global(g_dispatcherLock);
        g_dispatcher = nullptr;
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

} // namespace kvr::svc
