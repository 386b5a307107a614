#include "platform/desktop/owned_name.h"

#include "platform/common/log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kvr::desktop::detail {
namespace {

constexpr std::size_t kMaxFileName = 255;
// A stale file found at the name is removed and the creation tried again; more rounds than
// that only happen when other processes keep taking and dropping the same name.
constexpr int kAcquireRounds = 16;

bool sameFile(int fd, const std::filesystem::path& path) {
    struct stat a {
    }, b{};
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::optional<pid_t> readPid(int fd) {
    char buf[32] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return std::nullopt;
    char* end = nullptr;
    const long v = std::strtol(buf, &end, 10);
    if (end == buf || v <= 0 || v > 0x3FFFFFFF) return std::nullopt;
    return static_cast<pid_t>(v);
}

enum class Probe { Absent, Live, Error };

// Opens the file at `path` and finds out whether a live process holds it; a file nobody holds
// is removed (under its lock, and only when it is still the file at that path). `fdOut` keeps
// the open file of a live holder.
Probe probe(const std::filesystem::path& path, UniqueFd& fdOut) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return errno == ENOENT ? Probe::Absent : Probe::Error;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
        // Nobody holds it: its owner died. Files only ever appear locked (see acquire), and
        // only a lock holder removes one, so this is still the stale file when it is at the path.
        if (sameFile(fd.get(), path)) ::unlink(path.c_str());
        return Probe::Absent;
    }
    if (errno != EWOULDBLOCK) return Probe::Error;
    fdOut = std::move(fd);
    return Probe::Live;
}

} // namespace

std::optional<std::string> fileNameFor(std::string_view name) {
    if (name.empty()) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '/' || c == '%' || c == '\0' || (i == 0 && c == '.')) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    if (out.size() > kMaxFileName) return std::nullopt;
    return out;
}

OwnedName& OwnedName::operator=(OwnedName&& o) noexcept {
    if (this != &o) {
        release();
        fd_ = std::move(o.fd_);
        path_ = std::move(o.path_);
    }
    return *this;
}

AcquireResult OwnedName::acquire(const std::filesystem::path& dir, std::string_view name,
                                 OwnedName& out) {
    out.release();
    const auto file = fileNameFor(name);
    if (!file) return AcquireResult::Failed;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::filesystem::path path = dir / *file;

    static std::atomic<unsigned> tmpCounter{0};
    for (int round = 0; round < kAcquireRounds; ++round) {
        char tmpName[64];
        std::snprintf(tmpName, sizeof tmpName, ".kvr-tmp-%d-%u", static_cast<int>(::getpid()),
                      tmpCounter.fetch_add(1));
        const std::filesystem::path tmp = dir / tmpName;
        UniqueFd fd(::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd) {
            KVR_LOG_WARN("cannot create a file in %s: %s", dir.c_str(), std::strerror(errno));
            return AcquireResult::Failed;
        }
        char pidText[32];
        const int len =
            std::snprintf(pidText, sizeof pidText, "%d\n", static_cast<int>(::getpid()));
        const bool written = ::write(fd.get(), pidText, static_cast<size_t>(len)) == len;
        const bool locked =
            ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0; // a new file: never contended
        const int linkRc = (written && locked) ? ::link(tmp.c_str(), path.c_str()) : -1;
        const int linkErrno = errno;
        ::unlink(tmp.c_str());
        if (linkRc == 0) {
            out.fd_ = std::move(fd);
            out.path_ = path;
            return AcquireResult::Acquired;
        }
        if (!written || !locked || linkErrno != EEXIST) {
            KVR_LOG_WARN("cannot take the name %s: %s", path.c_str(), std::strerror(linkErrno));
            return AcquireResult::Failed;
        }
        UniqueFd holder;
        switch (probe(path, holder)) {
        case Probe::Live:
            return AcquireResult::HeldElsewhere;
        case Probe::Error:
            return AcquireResult::Failed;
        case Probe::Absent:
            break; // stale file removed, or the holder just let go: try again
        }
    }
    return AcquireResult::HeldElsewhere;
}

void OwnedName::release() noexcept {
    if (!fd_) return;
    // Remove the file only while it is still ours (someone may have deleted it by hand and
    // another process taken the name since).
    if (sameFile(fd_.get(), path_)) ::unlink(path_.c_str());
    fd_.reset(); // drops the lock
    path_.clear();
}

std::optional<pid_t> findOwner(const std::filesystem::path& dir, std::string_view name) {
    const auto file = fileNameFor(name);
    if (!file) return std::nullopt;
    UniqueFd fd;
    if (probe(dir / *file, fd) != Probe::Live) return std::nullopt;
    return readPid(fd.get());
}

bool signalOwner(const std::filesystem::path& dir, std::string_view name, int signal) {
    const auto file = fileNameFor(name);
    if (!file) return false;
    UniqueFd fd;
    if (probe(dir / *file, fd) != Probe::Live) return false;
    const auto pid = readPid(fd.get());
    if (!pid) return false;
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, *pid, 0)));
    if (pidfd) {
        // The file is still locked after the pid was pinned: the pinned process is its holder.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return false; // the holder has gone
        return ::syscall(SYS_pidfd_send_signal, pidfd.get(), signal, nullptr, 0) == 0;
    }
    if (errno != ENOSYS) return false; // ESRCH: gone meanwhile
#endif
    return ::kill(*pid, signal) == 0;
}

} // namespace kvr::desktop::detail
