#pragma once
// The event log and trace output of services.
//
// An event source is registered under a service's name; each entry it writes goes to syslog
// (ident = the source name, facility daemon) as one line
//   "event <id> <type>: <texts>"
// where <type> is "error", "warning" or "information" and the texts are joined by one blank
// (none is added after a text that already ends in one). There is no message file, so the
// texts stand as they are. Error entries go out at LOG_ERR, warnings at LOG_WARNING,
// information at LOG_INFO.
//
// When KVR_EVENT_LOG names a file, each entry is also appended to it as one line
// "<source>: <line>", so that tests of whole programs can read the entries back.
//
// Trace lines (the debugger's output on Windows) are written only when KVR_TRACE is set: to
// stderr, which is the journal for a systemd unit.
//
// Tests in one process install a sink for either instead; a sink replaces syslog (and the
// file) for event entries and receives every trace line (besides stderr with KVR_TRACE). A sink
// must not write event entries or trace lines itself. No call throws.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::svc {

inline constexpr std::uint16_t kEventError = 0x0001;
inline constexpr std::uint16_t kEventWarning = 0x0002;
inline constexpr std::uint16_t kEventInformation = 0x0004;

struct EventLogEntry {
    std::string source;
    std::uint16_t type = kEventInformation;
    std::uint16_t category = 0;
    std::uint32_t eventId = 0;
    std::vector<std::string> texts;
};

// The line an entry makes in syslog (without the ident).
std::string formatEventLine(const EventLogEntry& entry);

class EventSource {
public:
    // Nothing for a source name that is empty.
    static std::unique_ptr<EventSource> registerSource(std::string_view name);
    ~EventSource();
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;

    [[nodiscard]] const std::string& name() const { return name_; }
    // Writes one entry; `texts` as given (the caller drops null texts).
    bool report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                const std::vector<std::string>& texts);

private:
    explicit EventSource(std::string name);
    std::string name_;
};

using EventLogSink = std::function<void(const EventLogEntry&)>;
using TraceSink = std::function<void(const std::string& source, const std::string& line)>;
// An empty function restores syslog.
void setEventLogSink(EventLogSink sink);
void setTraceSink(TraceSink sink);

// Writes one trace line for `source` to stderr when the environment variable KVR_TRACE is set
// (not "0"), with a line feed, and hands it to the trace sink when one is installed.
void traceLine(std::string_view source, std::string_view line);

} // namespace kvr::svc
