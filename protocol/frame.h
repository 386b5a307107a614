#pragma once
// Command frames for the controller: building them, and the text encoding of their numbers.
//
// One frame layout serves both directions (commands to the controller and its replies):
//
//     offset  0      1 .. n                          n+1
//           +------+-------------------------------+------+
//           | SOH  |  ASCII text, case-sensitive   |  CR  |
//           | 0x01 |  e.g. "UT", "GP9C", "MI"      | 0x0D |
//           +------+-------------------------------+------+
//
// No length byte, no checksum, no escapes: the controller finds a frame by SOH and CR only.
// Numbers inside the text are upper-case hex pairs, most significant digit first:
//
//     get parameter  SOH 'G' 'P' a1 a2 CR                    (6 bytes)
//     set parameter  SOH 'S' 'P' a1 a2 h1 h2 l1 l2 CR        (10 bytes)
//                             address  first  second byte
//
// The builders fill a CommandFrame: `CommandBuffer` holds the bytes of the most recent frame,
// `CommandLength` how many of them are valid. A builder that refuses its arguments sets
// `CommandLength` to 0 and leaves the old bytes where they are, so sending the first
// `CommandLength` bytes afterwards writes nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kvr::protocol {

inline constexpr std::uint8_t kStartOfHeader = 0x01;  // SOH, first byte of every frame
inline constexpr std::uint8_t kCarriageReturn = 0x0D; // CR, last byte of every frame
inline constexpr std::size_t kFramingBytes = 2;       // SOH + CR around the text

// One write to a controller carries at most 255 data bytes, so no frame is ever longer.
inline constexpr std::size_t kCommandBufferSize = 255;
inline constexpr std::size_t kMaxCommandText = kCommandBufferSize - kFramingBytes;

// Widths of the hex fields of the parameter commands.
inline constexpr std::size_t kAddressDigits = 2;
inline constexpr std::size_t kByteDigits = 2;
inline constexpr std::size_t kGetParameterLength = kFramingBytes + 2 + kAddressDigits;
inline constexpr std::size_t kSetParameterLength =
    kFramingBytes + 2 + kAddressDigits + 2 * kByteDigits;
static_assert(kGetParameterLength == 6 && kSetParameterLength == 10);

// The most recently built frame. A program that uses one module-wide frame takes
// programCommand(); code that may run on several threads keeps its own.
struct CommandFrame {
    std::array<std::uint8_t, kCommandBufferSize> CommandBuffer{};
    std::uint16_t CommandLength = 0; // 0: nothing valid was built

    // The bytes to send: the first CommandLength bytes of CommandBuffer.
    [[nodiscard]] std::span<const std::uint8_t> bytes() const {
        return {CommandBuffer.data(), CommandLength};
    }
};

// SOH, every byte of `text` in order, CR. Refused (length 0) only when the text does not fit
// the buffer (more than kMaxCommandText bytes). True when a frame was built.
bool BuildCommand(CommandFrame& frame, std::string_view text);
// "GP" + address; refused unless the address has exactly 2 characters.
bool BuildGetParameter(CommandFrame& frame, std::string_view address);
// "SP" + address + first byte + second byte; refused unless all three have exactly 2
// characters.
bool BuildSetParameter(CommandFrame& frame, std::string_view address, std::string_view firstByte,
                       std::string_view secondByte);

// The program's module-wide frame and the builders that fill it. Meant for the one-thread
// programs (panel, memory tools), whose handlers build and send without a wait in between.
CommandFrame& programCommand();
bool BuildCommand(std::string_view text);
bool BuildGetParameter(std::string_view address);
bool BuildSetParameter(std::string_view address, std::string_view firstByte,
                       std::string_view secondByte);

// A value as upper-case hex text with at least two digits ("%02X"): 10 -> "0A", 255 -> "FF",
// 256 -> "100". A value above 255 thus gives three or more digits, which the parameter builders
// refuse, so it is never sent cut down to a wrong byte.
std::string hexText(std::uint32_t value);

// The four hex digits of a 16-bit word, high byte first ("%04X").
std::string hexWordText(std::uint16_t value);

} // namespace kvr::protocol
