#pragma once
// Judging the controller's replies. Every function looks only at the bytes it is given (the
// bytes one read returned, `reply.size()` being the count read) and never trusts them as a
// length or an index.
//
// Reply kinds, as the controller sends them (SOH = 0x01, CR = 0x0D):
//
//     acknowledge      SOH  st  CR                      3 bytes, st '0' = done
//     parameter value  SOH  H1 H2 H3 H4  CR             6 bytes, H1H2 first byte, H3H4 second
//     unit type        SOH  c1 .. c8  CR                10 bytes, e.g. "NVLT3000"
//     identity text    SOH  text  CR                    up to 10 bytes read, e.g. "V32110"
//     extension level  SOH  D1 D2 D3 D4  CR             6 bytes, decimal, e.g. "0004"
//     capability       'L' 'u' 'm' 'a' 'r' 'c' 'o' 'n' '0' f    10 bytes, f = '2': capable
//
// Two programs' views of a reply exist side by side:
//  - the control panel and the memory tools read 10 bytes after a fixed wait and judge the
//    count and the framing exactly (judge... functions below);
//  - the touch API library reads whatever is pending and judges the END of it, so that stray
//    bytes in front of a reply do no harm (tail... functions below).
// They also read hex digits differently (HexReading).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kvr::protocol {

using Bytes = std::span<const std::uint8_t>;

inline constexpr std::size_t kReplyReadSize = 10; // bytes asked for when a reply is read
inline constexpr std::uint8_t kStatusDone = '0';  // status character of a good acknowledge

inline constexpr std::size_t kAcknowledgeLength = 3;
inline constexpr std::size_t kParameterReplyLength = 6;
inline constexpr std::size_t kUnitTypeReplyLength = 10;
inline constexpr std::size_t kUnitTypeLength = 8;
inline constexpr std::size_t kMinIdentityReplyLength = 4;
inline constexpr std::size_t kExtensionReplyLength = 6;
inline constexpr std::size_t kCapabilityReplyLength = 10;
inline constexpr std::size_t kCapabilityFormatIndex = 9;
inline constexpr std::uint8_t kCapableFormat = '2';
// A probe counts a controller as present when more than this many bytes answer "UT".
inline constexpr std::size_t kProbeReplyMinimum = 5;

// The unit type of the controllers that have the extended ("Advance") parameters.
inline constexpr std::string_view kFamilyUnitType = "NVLT3000";
// Firmware from which address 9F (noise and acceleration level) exists.
inline constexpr std::uint32_t kNoiseLevelFirmware = 32110;

// ---- hex digits ----------------------------------------------------------------------------

enum class HexReading {
    // The control panel and the memory tools: a character above '9' is taken as its code
    // minus 55 ("A".."F" -> 10..15), any other as its code minus 48. A character for which
    // this gives no digit value 0..15 (lower case, blanks, letters past 'F') makes the reply
    // invalid instead of producing a byte out of range.
    Panel,
    // The touch API library: '0'-'9', 'A'-'F' and 'a'-'f'; reading stops at the first other
    // character, so "1G" is 0x01 and "G1" is 0x00.
    Library,
};

// Digit value under the panel reading; nothing when outside 0..15.
std::optional<std::uint8_t> panelHexDigit(std::uint8_t c);
// Two digits under the panel reading (high first); nothing when either is not a digit.
std::optional<std::uint8_t> panelHexByte(std::uint8_t high, std::uint8_t low);
// Two digits under the library reading (never fails: it reads what it can).
std::uint8_t libraryHexByte(std::uint8_t high, std::uint8_t low);
// Either reading; the library reading always gives a value.
std::optional<std::uint8_t> readHexByte(HexReading reading, std::uint8_t high, std::uint8_t low);

// ---- parameter words -----------------------------------------------------------------------

struct ParameterWord {
    std::uint8_t first = 0;       // high byte (digits H1 H2)
    std::uint8_t second = 0;      // low byte (digits H3 H4)
    std::array<char, 4> digits{}; // H1..H4 exactly as they came, for writing a byte back unchanged

    [[nodiscard]] std::uint16_t word() const {
        return static_cast<std::uint16_t>((first << 8) | second);
    }
    [[nodiscard]] std::string firstText() const { return {digits[0], digits[1]}; }
    [[nodiscard]] std::string secondText() const { return {digits[2], digits[3]}; }
};

enum class ReplyCheck {
    Valid,
    WrongLength, // not the count the reply kind has
    BadFraming,  // right count, but not SOH first and CR last
    BadDigits,   // right count and framing, but a digit that the reading does not accept
};

struct ParameterReply {
    ReplyCheck check = ReplyCheck::WrongLength;
    ParameterWord value; // meaningful only when valid()
    [[nodiscard]] bool valid() const { return check == ReplyCheck::Valid; }
};

// Panel and memory tools: exactly 6 bytes, SOH first, CR last, four hex digits (by default
// the panel reading). A caller that counts failures by kind sees BadDigits only on
// well-framed 6-byte replies, and never under the library reading.
ParameterReply judgeParameterReply(Bytes reply, HexReading reading = HexReading::Panel);

// ---- acknowledgements ----------------------------------------------------------------------

// Exactly 3 bytes and status '0' ("R", "RD", closing a port after "MI"). Only the status
// character is judged; a fourth byte makes it a failure.
bool judgeAcknowledge(Bytes reply);
// At least 3 bytes and byte 1 is '0' (the sensitivity sequence, which asks for 3 bytes).
bool judgeAcknowledgeStatus(Bytes reply);
// At least 3 bytes and they begin with SOH '0' CR (port probe, take-over replies).
bool startsWithAcknowledge(Bytes reply);

// ---- identity ------------------------------------------------------------------------------

// The eight characters of a unit type reply; nothing unless exactly 10 bytes were read.
std::optional<std::string> judgeUnitType(Bytes reply);
// Unit type of a controller with the extended parameters ("NVLT3000", exact match).
bool isFamilyUnitType(std::string_view unitType);
// The probe's test: any reply of more than 5 bytes.
bool probeAnswered(Bytes reply);
// Bytes 1 .. count-2 whose code is above 31, in order; empty when fewer than 4 bytes came.
std::string identityText(Bytes reply);
// The identity text without its first character, read as a decimal number from its leading
// digits: "V32110" -> 32110; empty or non-numeric rest -> 0. Saturates instead of wrapping.
std::uint32_t firmwareNumber(std::string_view identityText);
// D1*1000 + D2*100 + D3*10 + D4 from exactly 6 bytes (framing bytes not examined); 0 for any
// other count, and 0 when one of the four is not a decimal digit.
int extensionLevel(Bytes reply);
// Exactly 10 bytes and the byte at position 9 is '2'.
bool judgeCapability(Bytes reply);

// ---- the library's tail tests --------------------------------------------------------------

// n >= 6, byte n-6 is SOH, byte n-1 is CR; the word from bytes n-5..n-2 (by default the
// library reading; under the panel reading a non-digit refuses the reply).
std::optional<ParameterWord> tailValueReply(Bytes reply, HexReading reading = HexReading::Library);
// n >= 3 and the last three bytes are SOH '0' CR.
bool tailAcknowledgement(Bytes reply);
// n >= 3 and byte n-2 is '0'.
bool tailShortAcknowledgement(Bytes reply);

} // namespace kvr::protocol
