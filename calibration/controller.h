#pragma once
// What both calibration programs do with the touch library before and after their window:
// find and open the controller, find the display it is bound to, save and restore its report
// mode, and the exit codes that say why a program stopped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvr::calibration {

// Exit codes (the process leaves with 256 - n for a code -n).
enum ExitCode : int {
    kExitNormal = 0,          // the program ended normally
    kExitNoController = -1,   // no device word (linear: also no controller, no grid option)
    kExitSettingsKey = -2,    // the controller's settings key has no readable BPX or BPY
    kExitNotFound = -3,       // no controller has the given name
    kExitOpenFailed = -4,     // the controller cannot be opened
    kExitNoDisplay = -5,      // the controller is bound to no display, or there is none
    kExitMessageFile = -10,   // the message file has fewer than six texts
    kExitNoHandshake = -20,   // linear: the controller did not acknowledge "CR"
    kExitAlreadyRunning = -30 // another copy is running (it was brought to the front)
};

inline constexpr std::string_view kSerialWord = "RS232_DEVICE";
inline constexpr std::string_view kUsbWord = "USB_DEVICE";

// The report mode the capture runs in (drawing mode: the save tap arrives as a click).
inline constexpr std::uint8_t kCaptureReportMode = 2;

// True when one of the library's controllers 1..count bears exactly this name, fetched into
// a zeroed buffer of `bufferLength` bytes (case matters).
bool controllerListed(std::string_view name, std::uint8_t count, std::uint8_t bufferLength);

// The display a controller's targets are shown on, as the library's display table has it.
struct DisplayPlace {
    std::string name;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;  // exclusive
    std::int32_t bottom = 0; // exclusive
    [[nodiscard]] std::int32_t width() const { return right - left; }
    [[nodiscard]] std::int32_t height() const { return bottom - top; }
};

enum class DisplayLookup { Found, Unbound, NoDisplay };

// The controller's display: its number from GetDisplayNumber (display 1 when fewer displays
// exist), then its name and rectangle. Unbound when the library answers 254 (bound to
// none); NoDisplay when no display table or no usable rectangle can be had.
DisplayLookup controllerDisplay(std::int32_t handle, std::uint8_t nameBufferLength,
                                DisplayPlace& place);

// Puts back a report mode saved at start (mode 2 is the capture's own and is left alone).
void restoreReportMode(std::int32_t handle, std::uint8_t savedMode);

} // namespace kvr::calibration
