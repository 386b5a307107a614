#pragma once
// The command texts of the controller, one name per command, so that no program spells a
// command differently. Texts are case-sensitive: "Uu" and "UT" are different commands.

#include <string_view>

namespace kvr::protocol::command {

inline constexpr std::string_view kPreamble =
    "Z"; // sent before identification and queries; no reply judged
inline constexpr std::string_view kUnitType = "UT"; // reply: SOH + 8 characters + CR
inline constexpr std::string_view kIdentity = "OI"; // reply: SOH + identity text + CR
inline constexpr std::string_view kCapability =
    "Uu"; // reply: 10 bytes; maker tag, '0', format digit
inline constexpr std::string_view kExtensionLevel = "ii"; // reply: SOH + 4 decimal digits + CR
inline constexpr std::string_view kStopReports = "MI";    // touch reports off
inline constexpr std::string_view kStreamReports = "MS";  // touch reports streamed
inline constexpr std::string_view kPointReports = "MP";   // touch reports in point (button) mode
inline constexpr std::string_view kReset =
    "R"; // restart; acknowledged, makes new parameters take effect
inline constexpr std::string_view kRestoreDefaults = "RD"; // factory settings, then restart
inline constexpr std::string_view kStoreSettings = "PL";   // sent after settings were changed
inline constexpr std::string_view kSensitivity = "SE";     // followed by one digit '0'..'4'
inline constexpr std::string_view kHandshake = "CR";       // acknowledged with status '0'
inline constexpr std::string_view kUsbHandshake = "iH1";   // USB controllers only; acknowledged
inline constexpr std::string_view kGetParameter = "GP";    // followed by two address digits
inline constexpr std::string_view kSetParameter = "SP";    // followed by address and two bytes

} // namespace kvr::protocol::command
