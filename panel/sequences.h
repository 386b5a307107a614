#pragma once
// The panel's exchanges with the controller, in the order, with the waits and the reply tests
// the controller family needs. Plain functions over a Session: the window calls them and
// shows what they return; tests drive them against the driver and an emulated controller.

#include "panel/exchange.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::panel {

// ---- controller list (getctrname) -----------------------------------------------------------

inline constexpr std::size_t kMaxListedControllers = 20;

struct ControllerList {
    // Slot i (1..20) holds the name of the library's controller i cut to its interface and
    // device part ("RS232_DEVICE0"), empty when the library's name has neither "RS232" nor
    // "USB" in it. Controllers past the 20th are not listed.
    std::array<std::string, kMaxListedControllers + 1> names;
    std::uint8_t count = 0; // GetExistControllers
    int selected = 0;       // slot of the selected controller (0: none)
    [[nodiscard]] int listed() const {
        return count > kMaxListedControllers ? static_cast<int>(kMaxListedControllers) : count;
    }
};

// The interface and device part of a controller name: from "RS232" (else "USB") through
// "DEVICE" and one more character; empty when the name has neither kind word, or "DEVICE"
// does not follow it past the name's third character.
std::string controllerSlotName(std::string_view libraryName);

// Step 1: GetExistControllers and the names.
ControllerList enumerateControllers();
// Step 2: the probe. Each controller in turn is selected, opened and sent "UT" (twice at
// most, 100 ms each); the first with a reply of more than 5 bytes stays selected, else the
// last one does. The session's selected name follows.
// True when one answered (it is then the selected one).
bool probeControllers(ControllerList& list, Session& session);
// Step 3: the display column: "No. #" + (GetDisplayNumber + 1) for each listed controller,
// 200 ms after each.
std::vector<std::string> readDisplayColumn(const ControllerList& list, Session& session);

// ---- identity and firmware page ------------------------------------------------------------

// cmdInfo1: "OI" twice (flush between), the identity text of the reply; empty without one.
std::string readIdentityText(Session& session);

// What a firmware page read found. Values are clamped into their sliders' ranges.
struct FirmwarePage {
    bool recognised = false; // unit type "NVLT3000": the "Advance" tab exists
    std::optional<int> measTime, inFocus, outFocus, measDelay;
    std::optional<std::string> kept03, kept05; // first bytes written back unchanged
    // The extended rows were decided (a recognised controller): the enable boxes are hidden
    // first, then each slider gets a value or is disabled with an empty label.
    bool extendedDecided = false;
    std::optional<int> noiseLevel, accLevel;
    // Address 98 read: the enable boxes are shown with these ticks (bit 1, bit 0).
    std::optional<std::pair<bool, bool>> enableBoxes; // {Acc.Level row, A.D.N.L. row}
};

// readfw. `firmwareNumber` is the number of the identity label; `sensitivityRead` is called
// when address 9C gives a level 0..4 (where the page reads it, before 05). Ends by setting
// the driver back to `savedReportMode`.
FirmwarePage readFirmwarePage(Session& session, std::uint32_t firmwareNumber,
                              std::uint8_t savedReportMode,
                              const std::function<void(int level)>& sensitivityRead);

// The "Advance" page's values as its value labels show them, and what it keeps. A level row
// that was disabled shows nothing (no value).
struct AdvanceValues {
    std::uint32_t measTime = 0, inFocus = 0, outFocus = 0, measDelay = 0;
    std::optional<std::uint32_t> noiseLevel, accLevel;
    std::string kept03, kept05; // hex texts as read; empty when never read
    bool accBox = false, noiseBox = false;
    std::uint32_t firmwareNumber = 0;
};
// Command8_Click: the parameter writes, each value as two hex digits ("0" in front when
// needed; a value above 255 gives three, which the frame builder refuses, so nothing goes out
// for it). The settings-changed flag is set; the message is the caller's ("Update OK" when
// the session's last write status is non-zero).
void writeAdvancePage(Session& session, const AdvanceValues& values);

// Combo1_Click: the sensitivity level 0..4 ("SE" and "SP" 9C, up to 10 attempts, silent).
// True when the controller acknowledged. Sets the settings-changed flag.
bool sendSensitivity(Session& session, int level);

// ---- tools ----------------------------------------------------------------------------------

// "Reset" ("R") and "Defaults" ("RD"): flush, send, 300 ms, exactly a 3-byte acknowledge;
// one repetition on failure. "Reset" restores `savedReportMode` after a success and again at
// the end.
bool resetController(Session& session, std::uint8_t savedReportMode);
bool restoreDefaults(Session& session);

// GetDisplayNumber of the selected controller (opened and closed for it).
std::uint8_t readDisplayNumber(Session& session);

// ---- exit -----------------------------------------------------------------------------------

// conMT: "Uu"; true when capable (10 bytes, "2" at position 9).
bool queryCapability(Session& session);
// plcmd: only after a change of settings: conMT, then "PL" twice. True when it sent.
bool sendExitCommands(Session& session);
// "Release comport and Exit": CloseCOMPort on the selected controller.
bool releasePort(Session& session);

} // namespace kvr::panel
