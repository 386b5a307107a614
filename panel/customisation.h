#pragma once
// The customisation file: read at start-up, it sets which tabs and controls are enabled, the
// captions, the dialog title, the two text labels of the "General" tab and the six hidden
// keys. Three formats, chosen by the file's name:
//
//   touch3203.fmt  format 3203, items 1..138 (first choice)
//   touch32.fmt    format 32,   items 1..125
//   neither        format 0,    no file: design texts, built-in hidden keys
//
// Items are read front to back. A field item skips leading blanks and ends at a comma or the
// line end (both consumed); a field that starts with a double quote runs to the closing
// quote, and what follows it up to the delimiter is dropped; blanks at a field's end are
// dropped. A line item takes the rest of the current line whole. In practice every item
// stands on a line of its own:
//
//     1                       item 1: tab 0 enabled (flag: 0 or 1)
//     ...
//     "General"               item 7: caption of tab 0
//     ...
//     K                       item 13: hidden key 1 (first character; compared in upper case)
//
// Reading stops at the first item the file does not hold (it ends early) or holds in the
// wrong kind (text where a number or flag is expected): the items before it apply, the rest
// keep their design values, and one warning line names the file and the item.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::panel {

enum class CustomisationFormat { None = 0, Format32 = 32, Format3203 = 3203 };

inline constexpr const char* kCustomisationFile3203 = "touch3203.fmt";
inline constexpr const char* kCustomisationFile32 = "touch32.fmt";

// Item counts of the formats.
inline constexpr int kItemsFormat0 = 120; // items every file holds
inline constexpr int kItemsFormat32 = 125;
inline constexpr int kItemsFormat3203 = 138;

// What an item is read as.
enum class ItemKind : std::uint8_t {
    Flag,     // field "0" or "1" (other whole numbers count as true, except for byte flags)
    ByteFlag, // field, strictly "0" or "1" (stored as a byte)
    Text,     // field
    Number,   // field, a decimal whole number
    Ignored,  // field, read and skipped
    Line,     // the rest of the line
    LineFlag, // the rest of the line, as a flag
};

ItemKind itemKind(int item); // item 1..138

struct CustomisationItem {
    bool flag = false;
    std::int64_t number = 0;
    std::string text; // the text as read (also for flags and numbers)
};

// The six built-in hidden keys (used without a file, and for keys a short file lacks).
inline constexpr std::array<char, 6> kBuiltinHiddenKeys = {'O', 'M', 'P', 'T', 'L', 'A'};
// The key that locks again.
inline constexpr char kLockKey = 'X';

class Customisation {
public:
    // No file: format 0, every item at its design value.
    Customisation() = default;

    // rdformad's file choice: "touch3203.fmt" when present, else "touch32.fmt", else none
    // (each found as the programs find their files: current folder, then the configuration
    // folder).
    static std::optional<std::pair<std::filesystem::path, CustomisationFormat>> findFile();

    // Reads `path` as `format`. A file that cannot be opened reads as no file. A file that
    // ends early or holds a value of the wrong kind keeps the items before it and writes one
    // warning line for it (to `warning` when given, else to stderr).
    static Customisation read(const std::filesystem::path& path, CustomisationFormat format,
                              std::string* warning = nullptr);
    // findFile() then read(); no file gives the design values.
    static Customisation load();

    // Parses file contents (the reading rules above); `fileName` names it in the warning.
    static Customisation parse(std::string_view contents, CustomisationFormat format,
                               std::string_view fileName, std::string* warning);

    [[nodiscard]] CustomisationFormat format() const { return format_; }
    // The item as read; nothing for an item the file did not hold (or no file).
    [[nodiscard]] const CustomisationItem* item(int number) const;
    [[nodiscard]] std::optional<bool> flag(int number) const;
    [[nodiscard]] std::optional<std::string> text(int number) const;
    [[nodiscard]] std::optional<std::int64_t> number(int number) const;
    // Items read (0 without a file).
    [[nodiscard]] int itemsRead() const { return static_cast<int>(items_.size()); }

    // Hidden keys 1..6 in upper case; a file's key item that is empty gives '\0' (no key).
    [[nodiscard]] std::array<char, 6> hiddenKeys() const;
    // Item 114: hidden keys active (true without a file).
    [[nodiscard]] bool hiddenKeysActive() const { return flag(114).value_or(true); }
    // Item 6: the "Advance" tab may be enabled (true without a file).
    [[nodiscard]] bool advanceAllowed() const { return flag(6).value_or(true); }

private:
    CustomisationFormat format_ = CustomisationFormat::None;
    std::vector<CustomisationItem> items_; // item n at index n - 1
};

// What pressing Alt + a key does (Form_KeyDown), in the order the keys are checked.
enum class HiddenKeyAction : std::uint8_t {
    UnlockAdvance,     // hidden key 6
    UnlockCalibration, // hidden key 5
    UnlockScaleOffset, // hidden key 1
    UnlockSettings,    // hidden key 2
    UnlockParameter,   // hidden key 3
    UnlockTools,       // hidden key 4
    Lock,              // X
};

// The actions for a key pressed with Alt alone (`key` as typed; compared in upper case).
// Nothing when the hidden keys are inactive. A letter given to several hidden keys does all
// of their actions.
std::vector<HiddenKeyAction> hiddenKeyActions(char key, const std::array<char, 6>& keys,
                                              bool active);

} // namespace kvr::panel
