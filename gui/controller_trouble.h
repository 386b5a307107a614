#pragma once
// Why a program found or reached no controller, told to its user: a program that cannot open
// or reach a controller says which of three things it met, on one stderr line always, and on
// a second line of the message box where it shows one.

#include <string>
#include <string_view>

namespace kvr::gui {

// "the driver is not running" (no driver serves its control socket), "permission denied (not
// in group lumarcon)" (the socket refuses this user), or "no controller answered" (a driver
// serves it, but no controller was listed or answered). `controllerName` ("RS232_DEVICE0",
// "USB_DEVICE1") picks the driver to ask; empty asks both drivers, and any one that serves
// means the drivers run.
std::string controllerTroubleCause(std::string_view controllerName = {});

// The same, told apart for a program that acts on it.
enum class ControllerTrouble { DriverNotRunning, PermissionDenied, NoAnswer };
struct TroubleCause {
    ControllerTrouble kind = ControllerTrouble::DriverNotRunning;
    std::string text;
};
TroubleCause findControllerTrouble(std::string_view controllerName = {});

// "<program>: <cause>" on stderr, the program being the application's name.
void reportControllerTrouble(std::string_view cause);

// A message box text with the cause on its second line: `text` stays as it is.
std::string withCause(std::string_view text, std::string_view cause);

// The three above at once: the stderr line, and the box text with the cause.
std::string explainControllerTrouble(std::string_view text, std::string_view controllerName = {});

} // namespace kvr::gui
