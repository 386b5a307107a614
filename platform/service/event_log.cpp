#include "platform/service/event_log.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <syslog.h>
#include <unistd.h>

namespace kvr::svc {
namespace {

std::mutex g_lock; // sinks, the syslog ident, and whole lines on stderr
EventLogSink g_eventSink;
TraceSink g_traceSink;
// openlog keeps the pointer it is given: the idents live here for the whole process.
std::set<std::string> g_idents;
const std::string* g_currentIdent = nullptr;

// Called with g_lock held.
void useIdent(const std::string& name) {
    if (g_currentIdent != nullptr && *g_currentIdent == name) return;
    g_currentIdent = &*g_idents.insert(name).first;
    ::openlog(g_currentIdent->c_str(), LOG_PID, LOG_DAEMON);
}

const char* typeText(std::uint16_t type) {
    switch (type) {
    case kEventError:
        return "error";
    case kEventWarning:
        return "warning";
    case kEventInformation:
        return "information";
    default:
        return "entry";
    }
}

int priority(std::uint16_t type) {
    switch (type) {
    case kEventError:
        return LOG_ERR;
    case kEventWarning:
        return LOG_WARNING;
    default:
        return LOG_INFO;
    }
}

} // namespace

std::string formatEventLine(const EventLogEntry& entry) {
    std::string line = "event " + std::to_string(entry.eventId) + " " + typeText(entry.type) + ":";
    bool blank = false; // whether the line ends in a blank already
    for (const std::string& text : entry.texts) {
        if (!blank) line += ' ';
        line += text;
        blank = !text.empty() && (text.back() == ' ' || text.back() == '\t');
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

EventSource::EventSource(std::string name) : name_(std::move(name)) {}
EventSource::~EventSource() = default;

std::unique_ptr<EventSource> EventSource::registerSource(std::string_view name) {
    if (name.empty()) return nullptr;
    try {
        return std::unique_ptr<EventSource>(new EventSource(std::string(name)));
    } catch (...) {
        return nullptr;
    }
}

bool EventSource::report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                         const std::vector<std::string>& texts) {
    try {
        EventLogEntry entry{name_, type, category, eventId, texts};
        std::lock_guard lock(g_lock);
        if (g_eventSink) {
            g_eventSink(entry);
            return true;
        }
        const std::string line = formatEventLine(entry);
        useIdent(name_);
        ::syslog(priority(type), "%s", line.c_str());
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only read here.
        if (const char* file = std::getenv("KVR_EVENT_LOG"); file != nullptr && *file != '\0') {
            const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd >= 0) {
                const std::string text = name_ + ": " + line + "\n";
                // One write per entry: entries of several processes never interleave.
                [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
                ::close(fd);
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

void setEventLogSink(EventLogSink sink) {
    std::lock_guard lock(g_lock);
    g_eventSink = std::move(sink);
}

void setTraceSink(TraceSink sink) {
    std::lock_guard lock(g_lock);
    g_traceSink = std::move(sink);
}

void traceLine(std::string_view source, std::string_view line) {
    try {
        const std::string text(line);
        std::lock_guard lock(g_lock);
        if (g_traceSink) g_traceSink(std::string(source), text);
        // Trace lines are the debugger's output: written only when asked for with KVR_TRACE,
        // to stderr (the journal, for a unit). A service run without it logs its events only.
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only read here.
        if (const char* on = std::getenv("KVR_TRACE");
            on != nullptr && *on != '\0' && std::string_view(on) != "0") {
            std::fprintf(stderr, "%s\n", text.c_str());
            std::fflush(stderr);
        }
    } catch (...) {
        // Trace output is best effort; it never takes the service down.
    }
}

} // namespace kvr::svc
