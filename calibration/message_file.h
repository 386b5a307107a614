#pragma once
// The message file of the calibration programs ("msg_3p_calib.txt" for cal3pt,
// "msg_linear.txt" for linear): the size of the big texts and the six texts the programs
// show, so that a site can reword or translate them.
//
//   line 1      the font scale, a decimal number; the texts' character cell is ten times it
//               (1..8 as it is, above 8 gives 2, 0 keeps the font at its default size).
//               White space after the number is skipped, blank lines and the blanks that
//               begin the next line included.
//   lines 2..7  the six texts in slot order, one line each. A text holds at most 127 bytes:
//               a longer line fills as many texts as it needs.
//
// A file that ends before the sixth slot is filled is a format error (the programs stop).
// A first line that is no number, or a negative number, gives the default scale; the texts
// are then read from that line on. Slots are kept without their line end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kvr::calibration {

inline constexpr std::size_t kMessageSlots = 6;
// A slot holds up to 127 characters (128 bytes with the terminator of the file's readers).
inline constexpr std::size_t kSlotCharacters = 127;

inline constexpr std::uint8_t kDefaultFontScale = 3;
inline constexpr std::uint8_t kMaxFontScale = 8;
inline constexpr std::uint8_t kScaleAboveRange = 2; // what a scale above kMaxFontScale gives
inline constexpr std::int32_t kCellPxPerScale = 10; // cell height and width per scale step
// On a display this wide or narrower the texts use scale 1, whatever the file says.
inline constexpr std::int32_t kNarrowDisplayPx = 640;

// The texts: what the programs show where (slot 5 is the label of the countdown line).
enum Slot : std::size_t {
    kCaptureInstruction = 0, // capture screen, centre - 80
    kCaptureCancel = 1,      // capture screen, centre + 50
    kSavePrompt = 2,         // save prompt, centre - 80
    kSaveTimeout = 3,        // save prompt, centre + 50
    kSaveEscape = 4,         // save prompt, centre + 80
    kCountdownLabel = 5,     // save prompt, centre + 130, "%s %d" with the ticks left
};

struct MessageTable {
    std::uint8_t fontScale = kDefaultFontScale; // 0: the font's default size
    std::array<std::string, kMessageSlots> texts;
};

enum class MessageFileStatus {
    Read,        // the table holds the file's scale and texts
    Missing,     // the file cannot be opened: the table is left as it was (the defaults)
    FormatError, // fewer than six texts: the program stops ("message.txt format error")
};

// The built-in tables: cal3pt's texts, and linear's (slot 3 differs), at the default scale.
MessageTable threePointMessages();
MessageTable linearityMessages();

// Reads the file at `path` into `table`.
MessageFileStatus readMessageFile(const std::filesystem::path& path, MessageTable& table);
// The same for the file's contents.
MessageFileStatus parseMessageText(std::string_view text, MessageTable& table);

// The scale in force once the display is known.
std::uint8_t fontScaleForDisplay(std::uint8_t scale, std::int32_t displayWidthPx);

// The countdown line of the save prompt: the label, a blank and the ticks left.
std::string countdownText(const MessageTable& table, int ticksLeft);

} // namespace kvr::calibration
