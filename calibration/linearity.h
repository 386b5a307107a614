#pragma once
// linear's work with the touch library and the controller: the argument rules, the start-up
// in its order (each step with its exit code), the capture of five or nine targets that the
// library files in its linearity table, the "R" reset, and the store into the controller.
//
// Start-up, after the single-instance check and the message file:
//   1. at least one controller listed                                                 -1
//   2. the arguments hold "-5" or "-9" and "RS232_DEVICE" or "USB_DEVICE"             -1
//   3. the named controller (13 characters from "RS232_DEVICE", else 11 from
//      "USB_DEVICE") is listed                                                         -3
//      and opens                                                                       -4
//   4. the three-point calibration is reset to the base point's own targets (the one in
//      force before is read first and put back whenever the table is not saved)
//   5. the capture of target 0 is armed
//   6. the display it is bound to                                                      -5
//   7. "Z", then the report mode saved (point mode 3 becomes drawing mode 2)
//   8. the "CR" handshake, up to 10 attempts                                          -20
// A failure after step 5 stops the capture, puts the report mode back and closes the
// controller before the exit.

#include "calibration/capture.h"
#include "calibration/controller.h"
#include "calibration/targets.h"
#include "protocol/session.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::calibration {

struct LinearityArguments {
    std::string controllerName;
    std::uint8_t gridSize = kNineTargets;
};

// The argument rules: nothing when the grid option or both device words are missing. "-5"
// wins over "-9"; "RS232_DEVICE" over "USB_DEVICE".
std::optional<LinearityArguments> parseLinearityArguments(std::string_view arguments);

class LinearitySession {
public:
    struct Opened {
        int exitCode = kExitNormal; // when there is no session
        std::unique_ptr<LinearitySession> session;
    };
    static Opened open(std::string_view arguments);

    LinearitySession(const LinearitySession&) = delete;
    LinearitySession& operator=(const LinearitySession&) = delete;
    ~LinearitySession() { close(); }

    [[nodiscard]] std::int32_t handle() const { return controller_.handle(); }
    [[nodiscard]] const DisplayPlace& display() const { return display_; }
    [[nodiscard]] std::uint8_t gridSize() const { return gridSize_; }
    [[nodiscard]] std::vector<TargetUnits> targets() const { return linearityTargets(gridSize_); }
    [[nodiscard]] std::uint8_t savedReportMode() const { return savedReportMode_; }

    // The capture through SetCalPoint / CalCurrentPointReady.
    CaptureCalls captureCalls();
    // After the last target: "Z", the "R" reset, the report mode back, the capture stopped.
    void captureDone();
    // Esc (and a window closed during the capture): the "R" reset, the report mode back, the
    // capture stopped. Nothing is stored.
    void escape();
    // Writes the library's linearity table into the controller; false when the controller
    // did not take all of it.
    bool save();
    // Window destruction: the three-point calibration that was in force before the start
    // put back unless the table was saved, and the controller closed.
    void close();

private:
    LinearitySession() = default;
    bool handshake();
    void resetController();
    void stopCapture();
    // Puts back the calibration read at the start (once), unless the table was saved.
    void restoreCalibration();

    protocol::ControllerSession controller_;
    std::optional<std::array<std::int32_t, 6>> previousCalibration_;
    bool saved_ = false;
    DisplayPlace display_;
    std::uint8_t gridSize_ = kNineTargets;
    std::uint8_t savedReportMode_ = kCaptureReportMode;
};

} // namespace kvr::calibration
