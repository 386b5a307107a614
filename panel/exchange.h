#pragma once
// Exchanges with the selected controller. Each one opens the controller by name through the
// touch API library, writes a frame built in the program's command frame, waits a fixed time,
// reads a bounded count of reply bytes, and closes the controller again: the panel never
// keeps a handle between user actions.
//
// The library itself is called on the program's library worker only: a ControllerLink is the
// window's side of a controller session that lives on the worker. Each exchange (flush, write,
// wait, read) is one request; the window processes its events while it waits for the answer,
// so other handlers may run between two exchanges of a procedure, never inside one.

#include "gui/library_worker.h"
#include "protocol/session.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::panel {

// The form-level state the exchanges share.
struct Session {
    std::string selectedName;     // the controller every page talks to ("RS232_DEVICE0")
    std::int32_t lastHandle = -1; // of the most recent OpenController
    // Result of the most recent WriteBuffer (non-zero: accepted); the "Update OK"/"Update
    // Error" choice rests on it.
    std::uint16_t lastWriteStatus = 0;
    bool settingsChanged = false; // makes the exit send "PL"
};

using protocol::Flush;

class ControllerLink {
public:
    // OpenController(session.selectedName); the handle is also the session's last handle.
    explicit ControllerLink(Session& session);
    ~ControllerLink(); // CloseController, unless closed already
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    [[nodiscard]] bool ok() const { return handle_ >= 0; }
    [[nodiscard]] std::int32_t handle() const { return handle_; }

    // One exchange with a frame built in the program's command frame; the write's result is
    // also the session's last write status (a refused build writes nothing: status 0). The
    // reply bytes that arrived, at most `replyBytes` (none asked: none read).
    std::vector<std::uint8_t> exchange(std::string_view text, std::uint16_t waitMs,
                                       std::size_t replyBytes, Flush flush);
    std::vector<std::uint8_t> exchangeGetParameter(std::string_view address, std::uint16_t waitMs,
                                                   Flush flush);
    std::vector<std::uint8_t> exchangeSetParameter(std::string_view address,
                                                   std::string_view firstByte,
                                                   std::string_view secondByte,
                                                   std::uint16_t waitMs, std::size_t replyBytes,
                                                   Flush flush);
    // SetReportMode on this controller.
    bool setReportMode(std::uint8_t mode);
    // Any other export on this controller's handle, on the worker: `call(handle)`.
    template <class Call> auto onHandle(Call call) -> decltype(call(std::int32_t{})) {
        return gui::libraryCall([&call, h = handle_] { return call(h); });
    }
    // WaitMilliseconds: the window's events run meanwhile.
    static void wait(std::uint16_t milliseconds);
    void close();

private:
    std::vector<std::uint8_t> exchangeProgramCommand(std::uint16_t waitMs, std::size_t replyBytes,
                                                     Flush flush);
    Session& session_;
    protocol::ControllerSession controller_; // used on the worker only
    std::int32_t handle_ = -1;
};

} // namespace kvr::panel
