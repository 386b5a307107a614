#pragma once
// The message table: every text of the panel's message boxes, by slot number. The slot
// numbers are shared by all programs of the suite that read the message file "errmsg.txt"
// (one message per line, line n giving slot n).

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::panel {

// Slots the panel itself shows.
namespace msg {
inline constexpr std::size_t kNoDevice = 0;
inline constexpr std::size_t kOpenError = 1;
inline constexpr std::size_t kUpdateOk = 6;
inline constexpr std::size_t kUpdateError = 7;
inline constexpr std::size_t kRestoreOk = 8;
inline constexpr std::size_t kRestoreError = 9;
inline constexpr std::size_t kResetOk = 10;
inline constexpr std::size_t kResetError = 11;
inline constexpr std::size_t kReleaseQuestion = 12;
inline constexpr std::size_t kReleaseReconnect = 13;
inline constexpr std::size_t kReleaseTitle = 14;
inline constexpr std::size_t kResetTitle = 15;
inline constexpr std::size_t kDisableQuestion = 51;
} // namespace msg

inline constexpr const char* kMessageFile = "errmsg.txt";

class MessageTable {
public:
    static constexpr std::size_t kSlots = 101;       // slots 0..100
    static constexpr std::size_t kFileLines = 100;   // lines read from the file: slots 0..99
    static constexpr std::size_t kBuiltinSlots = 53; // slots 0..52 have built-in texts

    // The built-in texts (slots 53..100 empty).
    MessageTable();

    // LoadMessages: the message file found as the programs find their files (current folder,
    // then the configuration folder). Without one the built-in texts stay. A file's lines
    // 0..99 fill slots 0..99 whole (commas and quotes are part of the text); slots past a
    // short file's end keep their built-in texts; slot 100 stays empty. False when no file
    // was read.
    bool load(const std::filesystem::path& file);
    bool loadMessages(); // load() of "errmsg.txt" where the programs look for it
    // load() of a file's contents.
    void parse(std::string_view contents);

    // The text of a slot; empty for a slot outside the table.
    [[nodiscard]] const std::string& text(std::size_t slot) const;
    [[nodiscard]] const std::string& operator[](std::size_t slot) const { return text(slot); }

    static std::string_view builtinText(std::size_t slot);

private:
    void fill(const std::vector<std::string>& lines); // lines 0..99 into slots 0..99

    std::array<std::string, kSlots> texts_;
};

} // namespace kvr::panel
