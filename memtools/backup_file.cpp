#include "memtools/backup_file.h"

#include "platform/common/atomic_file.h"
#include "platform/common/paths.h"
#include "platform/common/unique_fd.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvr::memtools {
namespace {

constexpr int kImageBytes = 2 * kImageWords;
constexpr int kNumbersInFile = kImageBytes + static_cast<int>(kSettingCount) + 1;
static_assert(kNumbersInFile == 84);
// Lines 2..50 hold the numbers; 1 and 51 are the markers.
constexpr int kFirstNumberLine = 2;
constexpr int kLastNumberLine = 50;
// A whole backup is well under 1 KiB; anything much larger is no backup.
constexpr off_t kMaxFileSize = 64 * 1024;
// A first line longer than this cannot be our marker line; reading stops there.
constexpr std::size_t kMaxFirstLine = 4096;

// The lines of `text`, each without its end (CR LF, LF or a lone CR). A last line without an
// end counts when it holds anything.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

// The numbers of one line, appended to `out`; false with a reason for a token that is not a
// whole decimal number (an optional sign and digits).
bool readNumbers(std::string_view line, int lineNumber, std::vector<std::int64_t>& out,
                 std::string& reason) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (isSeparator(line[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < line.size() && !isSeparator(line[end]))
            ++end;
        std::string_view token = line.substr(i, end - i);
        i = end;
        std::string_view digits = token;
        if (digits.front() == '+') digits.remove_prefix(1);
        std::int64_t value = 0;
        const char* first = digits.data();
        const char* last = digits.data() + digits.size();
        const auto [ptr, ec] = std::from_chars(first, last, value);
        if (digits.empty() || ec != std::errc() || ptr != last ||
            (token.front() == '+' && digits.front() == '-')) {
            reason = "line " + std::to_string(lineNumber) + ": \"" + std::string(token) +
                     "\" is not a number";
            return false;
        }
        out.push_back(value);
    }
    return true;
}

ReadResult damaged(std::string reason) {
    ReadResult r;
    r.status = ReadStatus::Damaged;
    r.reason = std::move(reason);
    return r;
}

// The first line of a file (without its end), up to kMaxFirstLine bytes; nothing when the
// file cannot be opened or read.
std::optional<std::string> firstLine(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string line;
    char buf[512];
    while (line.size() < kMaxFirstLine) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        const std::string_view chunk(buf, static_cast<std::size_t>(n));
        const std::size_t end = chunk.find_first_of("\r\n");
        line.append(chunk.substr(0, end));
        if (end != std::string_view::npos) break;
    }
    return line;
}

} // namespace

std::string printNumber(std::int64_t value) {
    std::string text = value < 0 ? "" : " ";
    text += std::to_string(value);
    text += ' ';
    return text;
}

std::string formatBackupFile(const BackupContents& contents) {
    std::string out;
    out.reserve(1024);
    std::int64_t sum = 0;
    auto endLine = [&out] { out += kLineEnd; };

    out += kOpeningMarker;
    endLine();
    for (const ImageWord& w : contents.image) {
        out += printNumber(w.byte1);
        out += printNumber(w.byte2);
        endLine();
        sum += w.byte1 + w.byte2;
    }
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        out += printNumber(contents.record.at(i));
        endLine();
        sum += contents.record.at(i);
    }
    out += printNumber(sum);
    endLine();
    out += kClosingMarker;
    endLine();
    return out;
}

std::filesystem::path chooseBackupFile(const std::filesystem::path& folder, std::string_view marker,
                                       std::size_t markerFrom) {
    const auto installDefaults = folder / kInstallDefaultsFile;
    struct stat st {};
    if (::lstat(installDefaults.c_str(), &st) != 0 && errno == ENOENT) return installDefaults;
    // An "eepdef.eep" that cannot be read is kept like one that carries the marker.
    const std::optional<std::string> line = firstLine(installDefaults);
    if (line && line->find(marker, markerFrom) == std::string::npos) return installDefaults;
    return folder / kUserDefaultsFile;
}

bool writeBackupFile(const std::filesystem::path& path, const BackupContents& contents,
                     std::string* error) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    if (!paths::ensureDir(folder)) {
        if (error != nullptr) *error = "cannot create the folder " + folder.string();
        return false;
    }
    return files::writeFileAtomically(path, formatBackupFile(contents), error);
}

ReadResult parseBackupFile(std::string_view text) {
    const std::vector<std::string_view> lines = splitLines(text);
    if (lines.size() < static_cast<std::size_t>(kBackupFileLines))
        return damaged("the file has " + std::to_string(lines.size()) + " lines instead of " +
                       std::to_string(kBackupFileLines));

    std::vector<std::int64_t> numbers;
    numbers.reserve(kNumbersInFile + 1);
    std::string reason;
    for (int n = kFirstNumberLine; n <= kLastNumberLine; ++n) {
        if (!readNumbers(lines[static_cast<std::size_t>(n - 1)], n, numbers, reason))
            return damaged(reason);
    }
    if (numbers.size() != static_cast<std::size_t>(kNumbersInFile))
        return damaged("the file holds " + std::to_string(numbers.size()) + " numbers instead of " +
                       std::to_string(kNumbersInFile));

    ReadResult r;
    std::size_t at = 0;
    for (int w = 0; w < kImageWords; ++w) {
        const std::int64_t b1 = numbers[at++];
        const std::int64_t b2 = numbers[at++];
        if (b1 < 0 || b1 > 255 || b2 < 0 || b2 > 255)
            return damaged("word " + std::to_string(w + 1) + " holds a byte outside 0..255");
        r.contents.image[static_cast<std::size_t>(w)] = {static_cast<std::uint8_t>(b1),
                                                         static_cast<std::uint8_t>(b2)};
    }
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        if (!r.contents.record.setAt(i, numbers[at++]))
            return damaged("the " + std::string(settingName(kAllSettings[i])) +
                           " value does not fit its width");
    }
    r.storedChecksum = numbers[at];
    r.computedSum = checksum(r.contents.image, r.contents.record);
    if (r.storedChecksum == r.computedSum) {
        r.status = ReadStatus::Ok;
    } else {
        r.status = ReadStatus::ChecksumMismatch;
        r.reason = "checksum " + std::to_string(r.storedChecksum) + ", sum " +
                   std::to_string(r.computedSum);
    }
    return r;
}

ReadResult readBackupFile(const std::filesystem::path& path) {
    ReadResult r;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        r.status = errno == ENOENT ? ReadStatus::NotFound : ReadStatus::Unreadable;
        r.reason = path.string() + ": " + std::strerror(errno);
        return r;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        r.status = ReadStatus::Unreadable;
        r.reason = path.string() + ": not a regular file";
        return r;
    }
    if (st.st_size > kMaxFileSize) return damaged(path.string() + ": far too large for a backup");

    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            r.status = ReadStatus::Unreadable;
            r.reason = path.string() + ": " + std::strerror(errno);
            return r;
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxFileSize))
            return damaged(path.string() + ": far too large for a backup");
    }
    return parseBackupFile(text);
}

} // namespace kvr::memtools
