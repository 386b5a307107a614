#pragma once
// What one emulated controller is: its identity answers, its packet format, its settings
// memory at power-on and its timing. Profiles are plain data so a test can play any model of
// the family (or a faulty one) by picking or editing a profile.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::emu {

// How touch samples go on the wire.
enum class PacketKind : uint8_t {
    MLowFirst,  // 5-byte M packet, lead bit 4 set: each 14-bit coordinate low half first
    MHighFirst, // 5-byte M packet, lead bit 4 clear: high half first
    E,          // 10-byte E packet, 12-bit coordinates
};

// Which touch samples the controller sends ("MI", "MS", "MP").
enum class ReportMode : uint8_t {
    Off,    // "MI": no touch reports at all
    Stream, // "MS": every sample, and the pen-up sample at the lift
    Point,  // "MP": one sample per touch, the first pen-down sample; nothing else
};

constexpr int kSettingsWords = 256; // word addresses 00..FF

struct ControllerProfile {
    std::string name = "nvlt3000";
    std::string unitType = "NVLT3000";          // "UT" payload (8 characters on a good unit)
    std::string identityText = "V32110";        // "OI" payload
    std::optional<uint16_t> extensionLevel = 4; // "ii" level 0..9999; none = "ii" unknown
    std::string vendorTag = "Lumarcon";         // first 8 bytes of the "Uu" identification
    char formatPrefix = '0';                    // byte 8 of the identification
    char formatDigit = '0';                     // byte 9: packet format the driver selects
    // Raw "Uu" answer instead of tag + prefix + digit (faulty or foreign controllers).
    std::optional<std::string> identificationOverride;
    PacketKind packets = PacketKind::MLowFirst;
    ReportMode powerOnMode = ReportMode::Stream; // mode after power-on and after a restart
    uint32_t sampleRateHz = 100;
    // Between the acknowledge of "R"/"RD" and the restart announcement. The control panel
    // reads exactly the 3-byte acknowledge 300 ms after "R", so the announcement must come
    // later than that.
    uint32_t restartDelayMs = 600;
    bool mute = false; // answers no command at all (a dead or disconnected controller)
    std::array<uint16_t, kSettingsWords> defaults{};
    // Words that "RD" leaves as they are: the installation word 9E (display assignment and
    // sensor wiring), so a wiring code written before "RD" takes effect instead of vanishing.
    std::vector<uint8_t> keptByRestoreDefaults = {0x9E};

    // Largest raw coordinate the packet format carries (M: 14 bits, E: 12 bits).
    [[nodiscard]] uint16_t maxRaw() const { return packets == PacketKind::E ? 4095 : 16383; }
    // The 10 bytes (normally) answered to "Uu".
    [[nodiscard]] std::string identification() const;
};

// The factory settings memory of the family (01, 02, 03, 05, 10-21, 81-A3, 98, 99, 9B-9F).
std::array<uint16_t, kSettingsWords> factoryDefaults();

// The built-in profiles, by name: "nvlt3000" (default, M low half first), "nvlt3000-hf"
// (M high half first), "nvlt3000-yinv" (M, format digit 3), "nvlt3000-e" (E packets),
// "legacy" (older firmware: other unit type, no "ii"), "foreign" (another maker's tag),
// "short-id" (9-byte identification), "mute" (answers nothing).
const std::vector<ControllerProfile>& builtinProfiles();
std::optional<ControllerProfile> profileByName(std::string_view name);

std::string_view packetKindName(PacketKind kind);
std::optional<PacketKind> packetKindFromName(std::string_view name); // "m", "m-hf", "e"
std::string_view reportModeName(ReportMode mode);

// A profile prints as its name (test names and diagnostics).
std::ostream& operator<<(std::ostream& os, const ControllerProfile& profile);

} // namespace kvr::emu
