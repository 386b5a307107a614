#pragma once
// Waiting for drivers without polling: a client learns when a control device starts being
// served and when a driver it is connected to goes away.
//
// A control device appears when its daemon renames its socket into $KVR_RUNTIME_DIR/dev (also
// over a stale one left by a daemon that died); the watch sees that through inotify on the
// folder. A driver that goes away (stopped, crashed, killed) closes its end of every
// connection, which the descriptor of a ControlConnection shows.

#include "platform/common/unique_fd.h"
#include "platform/ipc/control_device.h"
#include "platform/ipc/event.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kvr::ipc {

class DeviceWatch {
public:
    // Watches the control-device folder, created when missing as a server would create it.
    // Nothing when the folder cannot be watched.
    static std::optional<DeviceWatch> open();

    enum class Wake { Stop, Changed, TimedOut };
    // Waits until `stop` is set, a control device appears, one of `connections` ends (null
    // entries are ignored) or `timeout` passes. Stop wins when several are true at once;
    // Changed may also come for nothing the caller cares about (it then just looks again).
    Wake wait(const Event& stop, std::span<const ControlConnection* const> connections,
              std::chrono::milliseconds timeout);
    // The names of the control devices that appeared since the last call ("KvrRs232D"), and
    // the notifications taken. After an overflow of the notification queue: every device
    // there is now.
    std::vector<std::string> takeAppeared();

private:
    explicit DeviceWatch(UniqueFd inotify, std::string folder)
        : inotify_(std::move(inotify)), folder_(std::move(folder)) {}
    UniqueFd inotify_;
    std::string folder_;
};

} // namespace kvr::ipc
