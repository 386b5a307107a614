// The backup file: the writer's exact bytes against a golden file written by hand, the reader
// on it and on edited copies, refusal of damaged files, the file choice rule, and writing
// without ever leaving a damaged file in place.

#include "memtools/backup_file.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kvr::memtools {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

// The contents of tests/data/memtools/golden.eep.
BackupContents goldenContents() {
    BackupContents c;
    for (int n = 1; n <= kImageWords; ++n) {
        auto& w = c.image[static_cast<std::size_t>(n - 1)];
        w = {static_cast<std::uint8_t>(n * 37 % 256), static_cast<std::uint8_t>(255 - n * 5)};
    }
    c.image[0] = {18, 52};
    c.image[1] = {0, 255};
    c.image[2] = {15, 0};
    const std::int64_t values[] = {2, 0, 1, 1000, 1, 5, 3, 0, 1, 1, 2, 2000, 20};
    for (std::size_t i = 0; i < kSettingCount; ++i)
        EXPECT_TRUE(c.record.setAt(i, values[i]));
    return c;
}

std::string golden() {
    return slurp(test::sourceDir() / "tests/data/memtools/golden.eep");
}

// The golden text with line `line` (1-based) replaced.
std::string withLine(int line, const std::string& text) {
    std::string g = golden();
    std::size_t start = 0;
    for (int i = 1; i < line; ++i)
        start = g.find("\r\n", start) + 2;
    const std::size_t end = g.find("\r\n", start);
    return g.replace(start, end - start, text);
}

TEST(BackupFile, WriterGivesTheGoldenBytes) {
    EXPECT_EQ(formatBackupFile(goldenContents()), golden());
    EXPECT_EQ(printNumber(18) + printNumber(52), " 18  52 ");
    EXPECT_EQ(printNumber(-5), "-5 ");
    EXPECT_EQ(checksum(goldenContents().image, goldenContents().record), 12304);
}

TEST(BackupFile, ReaderTakesTheGoldenFileAndHandEditedCopies) {
    const ReadResult r = parseBackupFile(golden());
    ASSERT_EQ(r.status, ReadStatus::Ok) << r.reason;
    EXPECT_EQ(r.contents, goldenContents());
    EXPECT_EQ(r.storedChecksum, 12304);

    struct Case {
        const char* what;
        int line;
        std::string text;
        ReadStatus expected;
    };
    const Case cases[] = {
        {"one byte changed", 2, " 19  52 ", ReadStatus::ChecksumMismatch},
        {"one setting changed", 37, " 3 ", ReadStatus::ChecksumMismatch},
        {"two opposite changes", 2, " 19  51 ", ReadStatus::Ok},
        {"commas and runs of blanks", 2, "18,,52", ReadStatus::Ok},
        {"first line anything", 1, "hello", ReadStatus::Ok},
        {"empty first line", 1, "", ReadStatus::Ok},
        {"a byte above 255", 3, " 256  0 ", ReadStatus::Damaged},
        {"a negative byte", 3, " 0 -1 ", ReadStatus::Damaged},
        {"a missing number", 4, " 15 ", ReadStatus::Damaged},
        {"an extra number", 4, " 15 0 0", ReadStatus::Damaged},
        {"not a number", 5, " 148  2x5 ", ReadStatus::Damaged},
        {"a fraction", 5, " 148  23.5 ", ReadStatus::Damaged},
        {"a flag of 2", 38, " 2 ", ReadStatus::Damaged},
        {"a byte setting of 256", 37, " 256 ", ReadStatus::Damaged},
        {"a 32-bit setting too wide", 40, " 4294967296 ", ReadStatus::Damaged},
        {"a checksum beyond 64 bits", 50, " 99999999999999999999 ", ReadStatus::Damaged},
        {"no checksum", 50, "  ", ReadStatus::Damaged},
    };
    for (const Case& c : cases) {
        const ReadResult e = parseBackupFile(withLine(c.line, c.text));
        EXPECT_EQ(e.status, c.expected) << c.what << ": " << e.reason;
    }
    // Whole files that are cut short, or are no backup at all.
    const std::string g = golden();
    const std::string shortFile = g.substr(0, g.rfind("   !!!"));
    EXPECT_EQ(parseBackupFile(shortFile).status, ReadStatus::Damaged);
    EXPECT_EQ(parseBackupFile("").status, ReadStatus::Damaged);
    EXPECT_EQ(parseBackupFile(std::string(60, '\n')).status, ReadStatus::Damaged);
    // Line ends of other systems read the same.
    std::string lf = g;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;)
        lf.erase(at, 1);
    EXPECT_EQ(parseBackupFile(lf).status, ReadStatus::Ok);
}

TEST(BackupFile, FileChoiceKeepsTheFirstBackup) {
    const fs::path dir = test::makeTempDir("choice");
    const fs::path eep = dir / "eepdef.eep";
    EXPECT_EQ(chooseBackupFile(dir), eep) << "no eepdef.eep yet";
    struct Case {
        std::string firstLine;
        const char* expected;
    };
    const Case cases[] = {
        {std::string(kOpeningMarker), "usrdef.eep"},
        {"abcThis_File", "usrdef.eep"}, // from the fourth character
        {"abThis_File", "eepdef.eep"},  // from the third: not the marker
        {"", "eepdef.eep"},             // an empty file is overwritten
        {"Don't_Modify", "eepdef.eep"},
    };
    for (const Case& c : cases) {
        spit(eep, c.firstLine + "\r\nmore\r\n");
        EXPECT_EQ(chooseBackupFile(dir), dir / c.expected) << c.firstLine;
    }
    // The control panel's marker.
    spit(eep, std::string(kOpeningMarker));
    EXPECT_EQ(chooseBackupFile(dir, "Modify_This_File", 0), dir / "usrdef.eep");
    spit(eep, "Modify_This_File");
    EXPECT_EQ(chooseBackupFile(dir, "Modify_This_File", 0), dir / "usrdef.eep");
    // An eepdef.eep that cannot be read is kept.
    fs::remove(eep);
    fs::create_directory(eep);
    EXPECT_EQ(chooseBackupFile(dir), dir / "usrdef.eep");
}

TEST(BackupFile, WritingAndReadingFiles) {
    const fs::path dir = test::makeTempDir("files") / "new" / "state";
    const fs::path file = dir / "eepdef.eep";
    ASSERT_TRUE(writeBackupFile(file, goldenContents())) << "folder made when missing";
    EXPECT_EQ(slurp(file), golden());
    EXPECT_EQ(readBackupFile(file).status, ReadStatus::Ok);

    EXPECT_EQ(readBackupFile(dir / "usrdef.eep").status, ReadStatus::NotFound);
    fs::create_directory(dir / "usrdef.eep");
    EXPECT_EQ(readBackupFile(dir / "usrdef.eep").status, ReadStatus::Unreadable);
    std::string error;
    EXPECT_FALSE(writeBackupFile(dir / "usrdef.eep", goldenContents(), &error));
    EXPECT_FALSE(error.empty());

    spit(dir / "big.eep", std::string(1 << 20, ' '));
    EXPECT_EQ(readBackupFile(dir / "big.eep").status, ReadStatus::Damaged);

    // A folder that cannot be written: the existing backup stays as it was.
    if (::geteuid() != 0) {
        ::chmod(dir.c_str(), 0555);
        BackupContents other = goldenContents();
        other.image[0].byte1 = 99;
        EXPECT_FALSE(writeBackupFile(file, other, &error));
        ::chmod(dir.c_str(), 0755);
        EXPECT_EQ(slurp(file), golden());
        for (const auto& e : fs::directory_iterator(dir))
            EXPECT_NE(e.path().filename().string().front(), '.') << "no temporary left";
    }
}

} // namespace
} // namespace kvr::memtools
