// The library's own diagnostics (a settings store it cannot open, a driver that went away) go
// to the suite's log in syslog, never to the calling program's stderr: a program decides
// itself what its user sees. Built into libtsapi.so only; the tests that link the internals
// statically keep their stderr.

#include "platform/common/log.h"

namespace {

[[gnu::constructor]] void routeLibraryLog() {
    kvr::log::setLibraryTag("libtsapi");
}

} // namespace
