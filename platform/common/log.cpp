#include "platform/common/log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <syslog.h>

namespace kvr::log {
namespace {

std::atomic<Level> g_level{Level::Info};
std::atomic<bool> g_syslog{false};
std::atomic<const char*> g_libraryTag{nullptr}; // set: syslog only, each line tagged
std::mutex g_writeLock;                         // keeps lines of different threads whole

const char* tag(Level l) {
    switch (l) {
    case Level::Error:
        return "error";
    case Level::Warning:
        return "warning";
    case Level::Info:
        return "info";
    case Level::Debug:
        return "debug";
    }
    return "?";
}

int syslogPriority(Level l) {
    switch (l) {
    case Level::Error:
        return LOG_ERR;
    case Level::Warning:
        return LOG_WARNING;
    case Level::Info:
        return LOG_INFO;
    case Level::Debug:
        return LOG_DEBUG;
    }
    return LOG_INFO;
}

} // namespace

void setLevel(Level l) {
    g_level.store(l, std::memory_order_relaxed);
}
Level level() {
    return g_level.load(std::memory_order_relaxed);
}

bool setLevel(std::string_view name) {
    for (Level l : {Level::Error, Level::Warning, Level::Info, Level::Debug}) {
        if (name == tag(l)) {
            setLevel(l);
            return true;
        }
    }
    return false;
}

bool stderrIsJournal() {
    // systemd names the stream it connected stderr to as "DEVICE:INODE" (sd_journal_stream_fd).
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once at start-up.
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    struct stat st {};
    return ::fstat(2, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

void setSyslog(const char* ident) {
    // A unit's stderr is the journal already: syslog would log every line a second time.
    if (stderrIsJournal()) ident = nullptr;
    if (ident != nullptr && *ident != '\0') {
        ::openlog(ident, LOG_PID, LOG_DAEMON);
        g_syslog = true;
    } else {
        g_syslog = false;
    }
}

void setLibraryTag(const char* tag) {
    g_libraryTag = tag;
}

void write(Level l, const char* fmt, ...) {
    if (l > level()) return;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (const char* library = g_libraryTag.load()) {
        ::syslog(LOG_USER | syslogPriority(l), "%s: %s", library, line);
        return;
    }
    {
        std::lock_guard lock(g_writeLock);
        // Every line names its program, as users expect of a message on a terminal.
        std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, tag(l), line);
    }
    if (g_syslog) ::syslog(syslogPriority(l), "%s", line);
}

} // namespace kvr::log
