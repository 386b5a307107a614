#pragma once
// Readiness for systemd: a daemon run as a Type=notify unit says "READY=1" once it serves, so
// units ordered after it start only when it really does (its control socket is there).
//
// The message is one datagram to the socket named by $NOTIFY_SOCKET (a path, or "@name" for
// the abstract namespace), as sd_notify(3) sends it. Without $NOTIFY_SOCKET (not started by
// systemd) nothing is sent and nothing fails.

#include <string_view>

namespace kvr::svc {

// Sends `state` ("READY=1", "STOPPING=1", "STATUS=...", lines separated by '\n'). True when
// it was sent; false without $NOTIFY_SOCKET or when sending failed.
bool notifySystemd(std::string_view state);

} // namespace kvr::svc
