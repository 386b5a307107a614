#pragma once
// The backup file: a settings image and a settings record as 51 lines of text, each ended by
// CR LF. It lives in the state folder as "eepdef.eep" (the first backup taken on the machine,
// "Install defaults") or "usrdef.eep" (every later one, "User defaults").
//
//   line  content                                   example
//   ----  ----------------------------------------  ------------------------------------------
//     1   opening marker                            !!!__Don't_Modify_This_File_Please__!!
//     2   word 1 (address 81): byte 1, byte 2        " 18  52 "
//    ...  ...
//    36   word 35 (address A3): byte 1, byte 2       " 0  255 "
//    37   setting 1, report mode                    " 2 "
//    ...  ...  (the record's order, settings_image.h)
//    49   setting 13, buzzer duration               " 25 "
//    50   checksum                                  " 9043 "
//    51   closing marker                            "   !!! Don't Modify This File Please !!!"
//
// Numbers are written in print style: a blank where the sign goes (a '-' for a negative
// number), the digits, one trailing blank. The two numbers of a word line follow each other
// directly, so byte 1 = 18 and byte 2 = 52 give " 18  52 ".
//
// The checksum is the plain sum of the 70 image bytes and the 13 settings values as written
// (settings_image.h: checksum()).
//
// Reading: line 1 and line 51 are not examined (a first line that says anything at all is
// accepted). Lines 2 to 50 must hold exactly 84 numbers (70 bytes, 13 settings, the checksum),
// separated by any run of blanks, commas and line ends. A file with fewer than 51 lines, a
// missing or non-numeric number, a byte outside 0..255 or a setting that does not fit its
// width is damaged, and nothing of it may reach a controller. A file that is whole but whose
// checksum differs is reported as such, with its contents, so the caller can ask the user.

#include "memtools/settings_image.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kvr::memtools {

inline constexpr std::string_view kOpeningMarker = "!!!__Don't_Modify_This_File_Please__!!";
inline constexpr std::string_view kClosingMarker = "   !!! Don't Modify This File Please !!!";
inline constexpr std::string_view kLineEnd = "\r\n";
inline constexpr int kBackupFileLines = 51;

inline constexpr std::string_view kInstallDefaultsFile = "eepdef.eep";
inline constexpr std::string_view kUserDefaultsFile = "usrdef.eep";

// What the first line of an existing "eepdef.eep" must contain, from its fourth character on,
// for a new backup to go to "usrdef.eep" instead: the backup program's test. (The control
// panel's silent backup looks for "Modify_This_File" anywhere in the line.)
inline constexpr std::string_view kBackupProgramMarker = "This_File";
inline constexpr std::size_t kBackupProgramMarkerFrom = 3; // the fourth character

struct BackupContents {
    SettingsImage image{};
    SettingsRecord record;
    bool operator==(const BackupContents&) const = default;
};

// ---- writing -----------------------------------------------------------------------------------

// One number in print style: " 18 ", "-5 ".
std::string printNumber(std::int64_t value);

// The whole file, 51 lines with CR LF, the checksum computed while the values are written.
std::string formatBackupFile(const BackupContents& contents);

// The file a new backup goes to in `folder`: "eepdef.eep", or "usrdef.eep" when an
// "eepdef.eep" is there whose first line holds `marker` at index `markerFrom` or later.
// An "eepdef.eep" that exists but cannot be read (no permission, a folder of that name) is
// kept as well: the new backup goes to "usrdef.eep", so the first backup is never lost.
std::filesystem::path chooseBackupFile(const std::filesystem::path& folder,
                                       std::string_view marker = kBackupProgramMarker,
                                       std::size_t markerFrom = kBackupProgramMarkerFrom);

// Writes the file atomically (temporary file in the same folder, flushed, renamed), creating
// the folder when it is missing. False with a one-line reason when it cannot; an existing
// file of that name is then untouched.
bool writeBackupFile(const std::filesystem::path& path, const BackupContents& contents,
                     std::string* error = nullptr);

// ---- reading -----------------------------------------------------------------------------------

enum class ReadStatus {
    Ok,
    ChecksumMismatch, // whole and well-formed; the stored checksum differs from the sum
    Damaged,          // too short, a missing or bad number, a value out of its range
    NotFound,         // no file of that name
    Unreadable,       // there, but not a readable regular file
};

struct ReadResult {
    ReadStatus status = ReadStatus::Damaged;
    BackupContents contents;         // filled for Ok and ChecksumMismatch
    std::int64_t storedChecksum = 0; // line 50
    std::int64_t computedSum = 0;    // the sum of what was read
    std::string reason;              // what was wrong, for messages and logs

    // The contents may be written to a controller (possibly after asking the user).
    [[nodiscard]] bool usable() const {
        return status == ReadStatus::Ok || status == ReadStatus::ChecksumMismatch;
    }
};

// Parses the text of a backup file. Never throws; any input gives Ok, ChecksumMismatch or
// Damaged.
ReadResult parseBackupFile(std::string_view text);

// Reads and parses the file at `path`. A file larger than any backup could be is Damaged
// without being read whole.
ReadResult readBackupFile(const std::filesystem::path& path);

} // namespace kvr::memtools
