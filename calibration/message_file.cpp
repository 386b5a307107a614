#include "calibration/message_file.h"

#include "platform/common/text_encoding.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>

namespace kvr::calibration {
namespace {

constexpr std::array<std::string_view, kMessageSlots> kThreePointTexts = {
    "Touch the flash point until change to yellow, then lift.",
    "Press [ESC] to cancel.",
    "Touch me to save calibration data.",
    "Wait until timeout to abort calibrating.",
    "Or press [Esc] to abort.",
    "Timeout Count:",
};

constexpr std::string_view kLinearityTimeoutText = "Wait until timeout to abort executing.";

MessageTable tableOf(const std::array<std::string_view, kMessageSlots>& texts) {
    MessageTable table;
    for (std::size_t i = 0; i < kMessageSlots; ++i)
        table.texts[i] = std::string(texts[i]);
    return table;
}

// White space as the C library's readers skip it.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number at `pos` after white space, as a formatted read takes it: an optional sign
// and at least one digit. `pos` moves past it only when there is one. Values beyond the
// 32-bit range stay at its ends.
std::optional<std::int64_t> readNumber(std::string_view text, std::size_t& pos) {
    std::size_t p = pos;
    while (p < text.size() && isBlank(text[p]))
        ++p;
    pos = p; // the white space is gone even when no number follows
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || !isDigit(text[p])) return std::nullopt;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; p < text.size() && isDigit(text[p]); ++p)
        value = std::min(kLimit, value * 10 + (text[p] - '0'));
    pos = p;
    return negative ? -value : value;
}

std::uint8_t scaleOf(std::optional<std::int64_t> number) {
    // No number, or a negative one: the file says nothing usable about the size.
    if (!number || *number < 0) return kDefaultFontScale;
    if (*number > kMaxFontScale) return kScaleAboveRange;
    return static_cast<std::uint8_t>(*number);
}

// One slot as a line reader fills it: up to 127 bytes, ending early after a line feed.
// Nothing when the text is used up.
std::optional<std::string> readSlot(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) return std::nullopt;
    std::size_t end = pos;
    while (end < text.size() && end - pos < kSlotCharacters) {
        if (text[end++] == '\n') break;
    }
    // A line reader of the file's text mode takes CR LF as one line end: a line that fills
    // the slot up to its CR ends there, and its LF is no slot of its own.
    if (end < text.size() && text[end - 1] == '\r' && text[end] == '\n') ++end;
    std::string slot(text.substr(pos, end - pos));
    pos = end;
    while (!slot.empty() && (slot.back() == '\n' || slot.back() == '\r'))
        slot.pop_back();
    return slot;
}

// A slot of a UTF-8 file without the pieces of characters its byte limit cut off at either
// end.
std::string wholeCharacters(std::string slot) {
    std::size_t lead = 0;
    while (lead < slot.size() && (static_cast<unsigned char>(slot[lead]) & 0xC0) == 0x80)
        ++lead;
    slot.erase(0, lead);
    while (!slot.empty() && !::kvr::text::isUtf8(slot))
        slot.pop_back();
    return slot;
}

} // namespace

MessageTable threePointMessages() {
    return tableOf(kThreePointTexts);
}

MessageTable linearityMessages() {
    MessageTable table = tableOf(kThreePointTexts);
    table.texts[kSaveTimeout] = std::string(kLinearityTimeoutText);
    return table;
}

MessageFileStatus parseMessageText(std::string_view text, MessageTable& table) {
    std::size_t pos = 0;
    const auto number = readNumber(text, pos);
    table.fontScale = scaleOf(number);
    if (number) {
        while (pos < text.size() && isBlank(text[pos]))
            ++pos;
    }
    // A file in UTF-8 keeps its texts; any other is an old one in the Windows code page.
    const bool utf8 = ::kvr::text::isUtf8(text);
    for (std::string& slot : table.texts) {
        auto line = readSlot(text, pos);
        if (!line) return MessageFileStatus::FormatError;
        slot = utf8 ? wholeCharacters(std::move(*line)) : ::kvr::text::windows1252ToUtf8(*line);
    }
    return MessageFileStatus::Read;
}

MessageFileStatus readMessageFile(const std::filesystem::path& path, MessageTable& table) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return MessageFileStatus::Missing;
    // A message file is a few hundred bytes; anything far beyond that is no message file,
    // and only the first texts' worth of it could ever be used.
    constexpr std::size_t kMaxUsefulBytes = 64 * 1024;
    std::string text;
    text.resize(kMaxUsefulBytes);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parseMessageText(text, table);
}

std::uint8_t fontScaleForDisplay(std::uint8_t scale, std::int32_t displayWidthPx) {
    return displayWidthPx <= kNarrowDisplayPx ? 1 : scale;
}

std::string countdownText(const MessageTable& table, int ticksLeft) {
    return table.texts[kCountdownLabel] + " " + std::to_string(ticksLeft);
}

} // namespace kvr::calibration
