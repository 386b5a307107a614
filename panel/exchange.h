#pragma once
// Exchanges with the selected controller. Each one opens the controller by name through the
// touch API library, writes frames built in the program's command frame, waits a fixed time
// while the window keeps running, reads a bounded count of reply bytes, and closes the
// controller again: the panel never keeps a handle between user actions.

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

class ControllerLink {
public:
    // OpenController(session.selectedName); the handle is also the session's last handle.
    explicit ControllerLink(Session& session);
    ~ControllerLink(); // CloseController, unless closed already
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    [[nodiscard]] bool ok() const { return handle_ >= 0; }
    [[nodiscard]] std::int32_t handle() const { return handle_; }

    void flush();
    // Build a frame in the program's command frame and write it; the result is also the
    // session's last write status. A refused build writes nothing (status 0).
    std::uint16_t send(std::string_view text);
    std::uint16_t sendGetParameter(std::string_view address);
    std::uint16_t sendSetParameter(std::string_view address, std::string_view firstByte,
                                   std::string_view secondByte);
    // The reply bytes that arrived, at most `count`.
    std::vector<std::uint8_t> read(std::size_t count = 10);
    // WaitMilliseconds: the window's events run meanwhile.
    static void wait(std::uint16_t milliseconds);
    // SetReportMode on this controller (waits inside the library, run aside).
    bool setReportMode(std::uint8_t mode);
    void close();

private:
    std::uint16_t writeCommandFrame();
    Session& session_;
    std::int32_t handle_ = -1;
};

} // namespace kvr::panel
