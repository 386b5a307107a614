#include "platform/sound/sink.h"

#include "platform/common/log.h"
#include "platform/common/unique_fd.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kvr::sound::detail {
namespace {

// Sequence file of the folder: the last number handed out, as decimal text.
constexpr const char* kSequenceFile = ".sequence";
constexpr int kPublishAttempts = 1000;

std::string numbered(uint64_t n, const std::string& label) {
    char num[32];
    std::snprintf(num, sizeof num, "%06llu", static_cast<unsigned long long>(n));
    return std::string(num) + "-" + label + ".wav";
}

} // namespace

uint64_t reserveSinkNumber(const std::filesystem::path& dir) {
    UniqueFd fd(::open((dir / kSequenceFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return 0;
    // The lock is held only for the read-increment-write below.
    if (::flock(fd.get(), LOCK_EX) != 0) return 0;
    char buf[32] = {};
    const ssize_t got = ::pread(fd.get(), buf, sizeof buf - 1, 0);
    uint64_t last = 0;
    if (got > 0)
        last = std::strtoull(buf, nullptr, 10); // garbage reads as 0; publishing skips taken names
    const uint64_t next = last + 1;
    const int len = std::snprintf(buf, sizeof buf, "%llu\n", static_cast<unsigned long long>(next));
    if (::pwrite(fd.get(), buf, static_cast<size_t>(len), 0) != len ||
        ::ftruncate(fd.get(), len) != 0)
        return 0;
    return next; // closing the descriptor releases the lock
}

bool writeSinkFile(const std::filesystem::path& dir, const std::string& label, SF_INFO info,
                   const std::function<bool(SNDFILE*)>& write) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    // A private name until the data is complete, so a reader never sees half a file.
    static std::atomic<unsigned> partCounter{0};
    char part[64];
    std::snprintf(part, sizeof part, ".part-%d-%u", static_cast<int>(::getpid()),
                  partCounter.fetch_add(1, std::memory_order_relaxed));
    const std::filesystem::path partPath = dir / part;
    {
        UniqueFd fd(::open(partPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd) {
            KVR_LOG_WARN("sound sink: cannot create a file in %s: %s", dir.c_str(),
                         std::strerror(errno));
            return false;
        }
        SNDFILE* sf = ::sf_open_fd(fd.get(), SFM_WRITE, &info, SF_FALSE);
        if (sf == nullptr) {
            KVR_LOG_WARN("sound sink: cannot write WAV: %s", ::sf_strerror(nullptr));
            ::unlink(partPath.c_str());
            return false;
        }
        const bool ok = write(sf);
        const bool closed = (::sf_close(sf) == 0);
        if (!ok || !closed) {
            ::unlink(partPath.c_str());
            return false;
        }
    }
    // link() never replaces a file: a number already taken (a damaged sequence file) is
    // skipped by reserving the next one.
    for (int attempt = 0; attempt < kPublishAttempts; ++attempt) {
        const uint64_t n = reserveSinkNumber(dir);
        if (n == 0) break;
        if (::link(partPath.c_str(), (dir / numbered(n, label)).c_str()) == 0) {
            ::unlink(partPath.c_str());
            return true;
        }
        if (errno != EEXIST) break;
    }
    KVR_LOG_WARN("sound sink: cannot publish a file in %s: %s", dir.c_str(), std::strerror(errno));
    ::unlink(partPath.c_str());
    return false;
}

} // namespace kvr::sound::detail
