#pragma once
// Diagnostic lines to stderr, one per call, with a level filter: "<program>: <level>: <text>".
// Daemons may also route them to syslog (setSyslog); tests read stderr. A library routes its
// own lines to syslog alone (setLibraryTag): it never writes on its caller's stderr.

#include <string_view>

namespace kvr::log {

enum class Level { Error = 0, Warning = 1, Info = 2, Debug = 3 };

void setLevel(Level level);
Level level();
// "error", "warning", "info", "debug"; false (level unchanged) for anything else.
bool setLevel(std::string_view name);
// Also send each line to syslog under this ident (empty: stderr only). Where stderr is the
// journal already (a systemd unit's), the lines stay on stderr only.
void setSyslog(const char* ident);
// True when stderr is connected to the systemd journal ($JOURNAL_STREAM names it).
bool stderrIsJournal();
// From now on lines go to syslog only, as "<tag>: <text>", without openlog: the process keeps
// its own syslog identity. For a shared library's copy of this log.
void setLibraryTag(const char* tag);

void write(Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

} // namespace kvr::log

#define KVR_LOG_ERROR(...) ::kvr::log::write(::kvr::log::Level::Error, __VA_ARGS__)
#define KVR_LOG_WARN(...) ::kvr::log::write(::kvr::log::Level::Warning, __VA_ARGS__)
#define KVR_LOG_INFO(...) ::kvr::log::write(::kvr::log::Level::Info, __VA_ARGS__)
#define KVR_LOG_DEBUG(...)                                                                         \
    do {                                                                                           \
        if (::kvr::log::level() >= ::kvr::log::Level::Debug)                                       \
            ::kvr::log::write(::kvr::log::Level::Debug, __VA_ARGS__);                              \
    } while (0)
