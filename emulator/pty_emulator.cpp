#include "emulator/pty_emulator.h"

#include "emulator/frame_log.h"
#include "platform/common/log.h"
#include "platform/common/paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace kvr::emu {

namespace {

constexpr size_t kMaxControlLine = 16 * 1024;
constexpr size_t kMaxClientOutput = 64 * 1024 * 1024; // a client that never reads is dropped

bool makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfmakeraw(&t);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

void signalFd(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void drainFd(int fd) {
    uint64_t v = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &v, sizeof v);
}

} // namespace

struct PtyEmulator::Client {
    UniqueFd fd;
    std::string in, out;
    int pendingSyncs = 0;
    bool closing = false;
};

std::string dosDeviceLinkName(std::string_view port) {
    std::string lower;
    for (const char c : port)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string_view prefix : {"com", "usb"}) {
        if (lower.size() > prefix.size() && lower.starts_with(prefix)) {
            const std::string_view digits = std::string_view(lower).substr(prefix.size());
            bool allDigits = digits.size() <= 3;
            for (const char c : digits)
                allDigits = allDigits && std::isdigit(static_cast<unsigned char>(c));
            if (allDigits) return lower;
        }
    }
    return {};
}

std::filesystem::path dosDeviceLinkPath(std::string_view port) {
    return paths::stateDir() / "dosdevices" / dosDeviceLinkName(port);
}

namespace {

// A link into /dev/pts whose pty has gone: what an emulator that was killed leaves behind.
bool staleEmulatorLink(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return false;
    const auto target = std::filesystem::read_symlink(path, ec);
    return !ec && target.string().starts_with("/dev/pts/") && !std::filesystem::exists(target, ec);
}

} // namespace

std::string occupiedLinkEntry(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || !std::filesystem::exists(status) || staleEmulatorLink(path)) return {};
    if (std::filesystem::is_symlink(status))
        return path.string() + " -> " + std::filesystem::read_symlink(path, ec).string();
    if (std::filesystem::is_regular_file(status)) return path.string() + " (a regular file)";
    if (std::filesystem::is_directory(status)) return path.string() + " (a folder)";
    return path.string() + " (a special file)";
}

PtyEmulator::PtyEmulator(PtyOptions options)
    : options_(std::move(options)), start_(std::chrono::steady_clock::now()),
      controller_(options_.profile) {}

std::unique_ptr<PtyEmulator> PtyEmulator::start(PtyOptions options, std::string* error) {
    try {
        std::unique_ptr<PtyEmulator> emu(new PtyEmulator(std::move(options)));
        PtyOptions& o = emu->options_;
        if (!o.link.empty() && !o.serialDevice.empty()) {
            *error = "a serial line gets no link";
            return nullptr;
        }
        if (!o.link.empty() && dosDeviceLinkName(o.link).empty()) {
            *error = "bad link name '" + o.link + "' (COMn or usbN)";
            return nullptr;
        }
        if (!o.frameLog.empty()) {
            emu->log_ = FrameLogFile::open(o.frameLog, error);
            if (!emu->log_) return nullptr;
            emu->controller_.setFrameObserver(
                [log = emu->log_.get()](const FrameRecord& r) { log->write(r); });
        }
        emu->wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        emu->quitFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!emu->wakeFd_ || !emu->quitFd_) {
            *error = std::string("eventfd: ") + std::strerror(errno);
            return nullptr;
        }
        if (!o.controlSocket.empty()) {
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            if (o.controlSocket.native().size() >= sizeof addr.sun_path) {
                *error = "control socket path too long: " + o.controlSocket.string();
                return nullptr;
            }
            std::strcpy(addr.sun_path, o.controlSocket.c_str());
            struct stat st {};
            if (::lstat(o.controlSocket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
                ::unlink(o.controlSocket.c_str()); // left by a kvrsim that was killed
            emu->listenFd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (!emu->listenFd_ ||
                ::bind(emu->listenFd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) !=
                    0 ||
                ::listen(emu->listenFd_.get(), 8) != 0) {
                *error = "cannot serve the control socket " + o.controlSocket.string() + ": " +
                         std::strerror(errno);
                return nullptr;
            }
        }
        if (!emu->openLine(error)) return nullptr;
        for (const auto& f : o.faults)
            emu->controller_.addFault(f);
        for (auto& s : o.scenario)
            emu->controller_.enqueue(std::move(s), SimTime(0));
        o.scenario.clear();
        if (o.onLine) o.onLine(emu->slavePath_);
        emu->thread_ = std::thread([e = emu.get()] { e->serve(); });
        return emu;
    } catch (const std::exception& ex) {
        *error = ex.what();
        return nullptr;
    }
}

PtyEmulator::~PtyEmulator() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
    removeLink();
    if (listenFd_ && !options_.controlSocket.empty()) ::unlink(options_.controlSocket.c_str());
}

SimTime PtyEmulator::now() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - start_);
}

void PtyEmulator::wake() {
    signalFd(wakeFd_.get());
}

std::string PtyEmulator::slavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

bool PtyEmulator::openSerial(std::string* error) {
    static constexpr std::pair<uint32_t, speed_t> kSpeeds[] = {
        {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
    };
    const auto* speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                     [&](const auto& s) { return s.first == options_.baudRate; });
    if (speed == std::end(kSpeeds)) {
        *error = "unsupported baud rate " + std::to_string(options_.baudRate);
        return false;
    }
    const std::string path = options_.serialDevice.string();
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    termios t{};
    if (!fd || ::tcgetattr(fd.get(), &t) != 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD; // 8N1 from cfmakeraw; no modem control lines on a 3-wire cable
    ::cfsetispeed(&t, speed->second);
    ::cfsetospeed(&t, speed->second);
    if (::tcsetattr(fd.get(), TCSANOW, &t) != 0) {
        *error = "cannot set up " + path + ": " + std::strerror(errno);
        return false;
    }
    ::tcflush(fd.get(), TCIOFLUSH);
    {
        std::lock_guard lock(mutex_);
        slavePath_ = path;
    }
    master_ = std::move(fd);
    return true;
}

bool PtyEmulator::openLine(std::string* error) {
    if (!options_.serialDevice.empty()) return openSerial(error);
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        *error = std::string("cannot make a pty: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (::ptsname_r(master.get(), name, sizeof name) != 0) {
        *error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    // Holding the slave open keeps the line up while no program has the port open (the
    // master would otherwise report a hang-up), and raw mode from the first moment keeps the
    // line discipline from echoing the controller's own bytes back to it.
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave || !makeRaw(slave.get()) || !makeRaw(master.get())) {
        *error = std::string("cannot set up the pty ") + name + ": " + std::strerror(errno);
        return false;
    }
    const int flags = ::fcntl(master.get(), F_GETFL);
    ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK);
    {
        std::lock_guard lock(mutex_);
        slavePath_ = name;
    }
    master_ = std::move(master);
    slaveHold_ = std::move(slave);
    return updateLink(error);
}

bool PtyEmulator::updateLink(std::string* error) {
    if (options_.link.empty()) return true;
    if (linkPath_.empty()) {
        const std::filesystem::path path =
            paths::stateSubdir("dosdevices") / dosDeviceLinkName(options_.link);
        return claimLink(path, error);
    }
    // A new line after a reconnect: the link follows it, unless another emulator took the
    // name over meanwhile.
    std::error_code ec;
    if (std::filesystem::read_symlink(linkPath_, ec).string() != linkTarget_) {
        KVR_LOG_WARN("%s is no longer this emulator's link; left as it is", linkPath_.c_str());
        return true;
    }
    // Made beside the link and renamed over it, so a reader never sees no link at all.
    const std::filesystem::path tmp =
        linkPath_.parent_path() /
        (".kvrsim." + std::to_string(::getpid()) + "." + linkPath_.filename().string());
    ::unlink(tmp.c_str());
    if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0 ||
        ::rename(tmp.c_str(), linkPath_.c_str()) != 0) {
        *error = "cannot link " + linkPath_.string() + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    linkTarget_ = slavePath_;
    return true;
}

bool PtyEmulator::claimLink(const std::filesystem::path& path, std::string* error) {
    const std::string occupant = occupiedLinkEntry(path);
    if (!occupant.empty() && !options_.replaceLink) {
        *error = "the port is taken: " + occupant + " (--replace takes it over until the end)";
        return false;
    }
    if (occupant.empty()) {
        if (staleEmulatorLink(path)) ::unlink(path.c_str());
        // No replacing here: an entry that appeared meanwhile makes this fail.
        if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
            *error = "cannot link " + path.string() + ": " + std::strerror(errno);
            return false;
        }
    } else {
        // Set aside under a second name first (a hard link to the entry itself, so the name
        // never goes missing for a reader), then replaced in one step.
        const std::filesystem::path saved =
            path.parent_path() /
            ("." + path.filename().string() + ".kvrsim-saved." + std::to_string(::getpid()));
        const std::filesystem::path tmp =
            path.parent_path() /
            (".kvrsim." + std::to_string(::getpid()) + "." + path.filename().string());
        ::unlink(saved.c_str());
        ::unlink(tmp.c_str());
        if (::link(path.c_str(), saved.c_str()) != 0 &&
            ::rename(path.c_str(), saved.c_str()) != 0) {
            *error = "cannot set " + path.string() + " aside: " + std::strerror(errno);
            return false;
        }
        if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0 ||
            ::rename(tmp.c_str(), path.c_str()) != 0) {
            *error = "cannot link " + path.string() + ": " + std::strerror(errno);
            ::unlink(tmp.c_str());
            ::rename(saved.c_str(), path.c_str());
            return false;
        }
        savedEntry_ = saved;
        KVR_LOG_INFO("took over %s; it is put back at the end", occupant.c_str());
    }
    linkPath_ = path;
    linkTarget_ = slavePath_;
    return true;
}

void PtyEmulator::removeLink() {
    if (linkPath_.empty()) return;
    // Only our own link: another emulator may have taken the name over since.
    std::error_code ec;
    const bool ours = std::filesystem::read_symlink(linkPath_, ec).string() == linkTarget_ && !ec;
    if (!savedEntry_.empty()) {
        if (ours && ::rename(savedEntry_.c_str(), linkPath_.c_str()) == 0) return;
        KVR_LOG_WARN("%s was taken over meanwhile; the entry it replaced is kept as %s",
                     linkPath_.c_str(), savedEntry_.c_str());
        return;
    }
    if (ours) std::filesystem::remove(linkPath_, ec);
}

bool PtyEmulator::execute(std::string_view line, std::string* error) {
    bool ok = false;
    {
        std::lock_guard lock(mutex_);
        ok = controller_.enqueueLine(line, now(), error);
    }
    wake();
    return ok;
}

bool PtyEmulator::waitIdle(std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    return idleChanged_.wait_for(
               lock, deadline,
               [this] { return (controller_.idle() && !emitting_) || stopping_; }) &&
           controller_.idle() && !emitting_;
}

std::vector<FrameRecord> PtyEmulator::frames() const {
    std::lock_guard lock(mutex_);
    return controller_.frames();
}

// ---- serving thread ------------------------------------------------------------------------

void PtyEmulator::pump(SimTime t) {
    for (;;) {
        Emission e;
        {
            std::lock_guard lock(mutex_);
            e = controller_.poll(t);
            emitting_ = !e.bytes.empty() || e.event != LineEvent::None;
        }
        size_t off = 0;
        while (master_ && off < e.bytes.size()) {
            const ssize_t n = ::write(master_.get(), e.bytes.data() + off, e.bytes.size() - off);
            if (n > 0) {
                off += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                // Nobody reads the port and its buffer is full: like a real line, the bytes
                // are gone.
                if (writeDrops_++ == 0) KVR_LOG_WARN("kvrsim: line buffer full, output lost");
                break;
            }
        }
        if (e.event == LineEvent::None) break;
        if (e.event == LineEvent::HangUp) {
            master_.reset();
            slaveHold_.reset();
            KVR_LOG_INFO("kvrsim: line hung up");
        } else if (e.event == LineEvent::Reconnect && !master_) {
            std::string error;
            if (!openLine(&error))
                KVR_LOG_ERROR("kvrsim: reconnect failed: %s", error.c_str());
            else if (options_.onLine)
                options_.onLine(slavePath());
        }
    }
    bool idle = false;
    {
        std::lock_guard lock(mutex_);
        emitting_ = false;
        idle = controller_.idle();
    }
    if (idle) {
        idleChanged_.notify_all();
        for (auto& c : clients_)
            for (; c->pendingSyncs > 0; --c->pendingSyncs)
                c->out += "ok\n";
    }
}

void PtyEmulator::controlLine(Client& c, std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    if (line == "sync") {
        ++c.pendingSyncs; // answered by pump() once everything queued has been sent
        return;
    }
    if (line == "quit") {
        c.out += "ok\n";
        signalFd(quitFd_.get());
        return;
    }
    if (line == "frames") {
        for (const auto& r : frames())
            c.out += formatFrameRecord(r) + "\n";
        c.out += "end\n";
        return;
    }
    std::string error;
    bool ok = false;
    {
        std::lock_guard lock(mutex_);
        ok = controller_.enqueueLine(line, now(), &error);
    }
    c.out += ok ? "ok\n" : "error: " + error + "\n";
}

void PtyEmulator::handleClientInput(Client& c) {
    char buf[4096];
    const ssize_t n = ::read(c.fd.get(), buf, sizeof buf);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) c.closing = true;
        return;
    }
    c.in.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = c.in.find('\n')) != std::string::npos) {
        const std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        controlLine(c, line);
    }
    if (c.in.size() > kMaxControlLine) {
        c.out += "error: line too long\n";
        c.in.clear();
    }
}

void PtyEmulator::serve() {
    try {
        for (;;) {
            std::optional<SimTime> due;
            {
                std::lock_guard lock(mutex_);
                if (stopping_) break;
                due = controller_.nextDue();
            }
            int timeoutMs = -1;
            if (due) {
                const auto left = *due - now();
                timeoutMs = left <= SimTime(0) ? 0 : static_cast<int>((left.count() + 999) / 1000);
            }
            std::vector<pollfd> fds;
            fds.push_back({wakeFd_.get(), POLLIN, 0});
            const size_t masterAt = fds.size();
            if (master_) fds.push_back({master_.get(), POLLIN, 0});
            const size_t listenAt = fds.size();
            if (listenFd_) fds.push_back({listenFd_.get(), POLLIN, 0});
            const size_t clientsAt = fds.size();
            for (auto& c : clients_)
                fds.push_back(
                    {c->fd.get(), static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
            const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
            if (ready < 0 && errno != EINTR) {
                KVR_LOG_ERROR("kvrsim: poll: %s", std::strerror(errno));
                break;
            }
            if (fds[0].revents & POLLIN) drainFd(wakeFd_.get());
            if (master_ && (fds[masterAt].revents & (POLLIN | POLLHUP | POLLERR))) {
                uint8_t buf[4096];
                const ssize_t n = ::read(master_.get(), buf, sizeof buf);
                if (n > 0) {
                    std::lock_guard lock(mutex_);
                    controller_.receive(std::span<const uint8_t>(buf, static_cast<size_t>(n)),
                                        now());
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    // The far end hung up (a serial line's other side went away). Stop
                    // watching the line, or poll would report it over and over.
                    KVR_LOG_WARN("kvrsim: the line is gone");
                    master_.reset();
                    slaveHold_.reset();
                }
            }
            if (listenFd_ && (fds[listenAt].revents & POLLIN)) {
                UniqueFd fd(
                    ::accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (fd) {
                    auto c = std::make_unique<Client>();
                    c->fd = std::move(fd);
                    clients_.push_back(std::move(c));
                }
            }
            for (size_t i = 0; i < clients_.size() && clientsAt + i < fds.size(); ++i) {
                Client& c = *clients_[i];
                const short ev = fds[clientsAt + i].revents;
                if (ev & (POLLIN | POLLHUP | POLLERR)) handleClientInput(c);
            }
            pump(now());
            for (auto& c : clients_) {
                while (!c->out.empty() && !c->closing) {
                    const ssize_t n =
                        ::send(c->fd.get(), c->out.data(), c->out.size(), MSG_NOSIGNAL);
                    if (n > 0)
                        c->out.erase(0, static_cast<size_t>(n));
                    else if (n < 0 && errno == EINTR)
                        continue;
                    else {
                        if (n < 0 && errno != EAGAIN) c->closing = true;
                        break;
                    }
                }
                if (c->out.size() > kMaxClientOutput) c->closing = true;
            }
            std::erase_if(clients_, [](const std::unique_ptr<Client>& c) { return c->closing; });
        }
    } catch (const std::exception& ex) {
        KVR_LOG_ERROR("kvrsim: serving stopped: %s", ex.what());
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    idleChanged_.notify_all();
    signalFd(quitFd_.get());
}

} // namespace kvr::emu
