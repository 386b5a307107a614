#pragma once
// cal3pt's work with the touch library: the start-up checks in their order (each with its
// exit code), the capture of the three raw points, the save, and the clean-up when the
// window goes.
//
// Start-up, after the single-instance check and the message file:
//   1. the command line must name a controller ("RS232_DEVICE"n or "USB_DEVICE"n)   -1
//   2. a controller of exactly that name must be listed                              -3
//   3. it must open                                                                   -4
//   4. the capture of target 0 is armed
//   5. the display it is bound to (display 1 when fewer displays exist)               -5
//   6. BPX and BPY from its settings key, when the key is there                      -2
//   7. the report mode is saved and drawing mode (2) set for the capture
// A failure after step 3 stops the capture and closes the controller before the exit, so an
// early exit leaves the driver as it found it.

#include "calibration/capture.h"
#include "calibration/controller.h"
#include "calibration/targets.h"
#include "protocol/session.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::calibration {

// The settings key of a controller: "SYSTEM\CurrentControlSet\Control\Kvr\" and its name
// with every '_' turned into '\' ("RS232_DEVICE0" -> "...\Kvr\RS232\DEVICE0").
std::string controllerSettingsKey(std::string_view controllerName);

class ThreePointSession {
public:
    struct Opened {
        int exitCode = kExitNormal; // when there is no session
        std::unique_ptr<ThreePointSession> session;
    };
    static Opened open(std::string_view commandLine);

    ThreePointSession(const ThreePointSession&) = delete;
    ThreePointSession& operator=(const ThreePointSession&) = delete;
    ~ThreePointSession() { close(); }

    [[nodiscard]] std::int32_t handle() const { return controller_.handle(); }
    [[nodiscard]] const DisplayPlace& display() const { return display_; }
    [[nodiscard]] std::array<TargetUnits, 3> targets() const;
    [[nodiscard]] std::uint8_t savedReportMode() const { return savedReportMode_; }

    // The capture of the three points through SetCalibrationPoint / GetCalibrationData.
    CaptureCalls captureCalls();
    // Ends the driver's capture (after the third point, and on Esc).
    void stopCapture();
    // Hands the three raw points to the driver; false when it refused them (a set it cannot
    // calibrate with), and then nothing was stored.
    bool save(const std::vector<RawPoint>& points);
    // Window destruction: the saved report mode back (unless it is 2), the controller closed.
    void close();

private:
    ThreePointSession() = default;

    protocol::ControllerSession controller_;
    DisplayPlace display_;
    std::int32_t bpx_ = 0;
    std::int32_t bpy_ = 0;
    std::uint8_t savedReportMode_ = kCaptureReportMode;
};

} // namespace kvr::calibration
