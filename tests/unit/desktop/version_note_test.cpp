#include "platform/desktop/version_note.h"
#include "tests/support/test_env.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

namespace kvr::desktop {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

fs::path writeAll(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return p;
}

void putBE(Bytes& b, std::size_t off, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[off + i] = uint8_t(v >> (8 * (bytes - 1 - i)));
}

// A 32-bit big-endian ELF file without section headers whose only note sits in a PT_NOTE
// segment: the other layout and the other lookup path than our own x86-64 binaries.
Bytes elf32BigEndian(const std::string& owner, uint32_t type, const std::string& desc) {
    auto pad4 = [](std::size_t n) { return (n + 3) & ~std::size_t(3); };
    const std::size_t noteOff = 52 + 32;
    const std::size_t noteLen = 12 + pad4(owner.size() + 1) + pad4(desc.size() + 1);
    Bytes b(noteOff + noteLen, 0);
    const uint8_t ident[] = {0x7f, 'E', 'L', 'F', 1 /* 32-bit */, 2 /* big-endian */, 1};
    std::copy(std::begin(ident), std::end(ident), b.begin());
    putBE(b, 16, 2, 2);  // executable
    putBE(b, 18, 8, 2);  // MIPS
    putBE(b, 20, 1, 4);  // version
    putBE(b, 28, 52, 4); // program headers right after this header
    putBE(b, 40, 52, 2);
    putBE(b, 42, 32, 2);
    putBE(b, 44, 1, 2);
    putBE(b, 46, 40, 2);
    putBE(b, 52, 4, 4); // PT_NOTE
    putBE(b, 56, uint32_t(noteOff), 4);
    putBE(b, 68, uint32_t(noteLen), 4);
    putBE(b, noteOff, uint32_t(owner.size() + 1), 4);
    putBE(b, noteOff + 4, uint32_t(desc.size() + 1), 4);
    putBE(b, noteOff + 8, type, 4);
    std::copy(owner.begin(), owner.end(), b.begin() + long(noteOff + 12));
    std::copy(desc.begin(), desc.end(), b.begin() + long(noteOff + 12 + pad4(owner.size() + 1)));
    return b;
}

TEST(VersionNote, RoundTripThroughTheBuildHelper) {
    EXPECT_EQ(readFileVersion("/proc/self/exe"), "2.30.400.65535");
    EXPECT_EQ(readFileVersion(KVR_SPAWN_PROBE), "1.0.0.1");
    EXPECT_EQ(readFileVersion(KVR_NOTE_LIB), "3.2.1.0");
}

// Stripping (as packaging does) keeps the note: it is an allocated note section.
TEST(VersionNote, SurvivesStrip) {
    const auto dir = kvr::test::makeTempDir("strip");
    const auto copy = dir / "spawnprobe";
    std::filesystem::copy_file(KVR_SPAWN_PROBE, copy);
    if (std::system(("strip --strip-all " + copy.string() + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "strip not available";
    EXPECT_EQ(readFileVersion(copy), "1.0.0.1");
}

TEST(VersionNote, OtherLayoutsAndBadNotes) {
    const auto dir = kvr::test::makeTempDir("elf");
    struct Case {
        std::string owner;
        uint32_t type;
        std::string desc;
        std::optional<std::string> version;
    } cases[] = {
        {"Lumarcon", 1, "1.0.0.1", "1.0.0.1"},
        {"Lumarcon", 1, "0.0.0.0", "0.0.0.0"},
        {"Lumarcon", 2, "1.0.0.1", std::nullopt},  // another note type
        {"Lumarcon2", 1, "1.0.0.1", std::nullopt}, // another owner
        {"lumarcon", 1, "1.0.0.1", std::nullopt},
        {"Lumarcon", 1, "1.0.0", std::nullopt}, // three parts
        {"Lumarcon", 1, "1.0.0.1.5", std::nullopt},
        {"Lumarcon", 1, "1.0.0.65536", std::nullopt}, // beyond 16 bits
        {"Lumarcon", 1, "1..0.1", std::nullopt},
        {"Lumarcon", 1, "v1.0.0.1", std::nullopt},
        {"Lumarcon", 1, "", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto p = writeAll(dir / "bin", elf32BigEndian(c.owner, c.type, c.desc));
        EXPECT_EQ(readFileVersion(p), c.version) << c.owner << " " << c.type << " " << c.desc;
    }
}

TEST(VersionNote, FilesWithoutANote) {
    const auto dir = kvr::test::makeTempDir("elf");
    EXPECT_FALSE(readFileVersion(dir / "missing"));
    EXPECT_FALSE(readFileVersion(dir));
    EXPECT_FALSE(readFileVersion(writeAll(dir / "text", Bytes{'h', 'e', 'l', 'l', 'o'})));
    EXPECT_FALSE(readFileVersion(writeAll(dir / "empty", Bytes{})));
    EXPECT_FALSE(readFileVersion(writeAll(dir / "magic", Bytes{0x7f, 'E', 'L', 'F', 2, 1})));
    EXPECT_FALSE(readFileVersion("/bin/sh")); // an ELF file of someone else
}

// Damaged copies of a real binary: whatever the bytes, the reader neither crashes nor reads
// outside the file, and anything it returns is a well-formed version.
TEST(VersionNote, DamagedBinariesAreReadSafely) {
    const Bytes good = readAll(KVR_SPAWN_PROBE);
    ASSERT_GT(good.size(), 1000u);
    const auto dir = kvr::test::makeTempDir("elf");
    auto check = [&](const Bytes& b) {
        const auto v = readFileVersion(writeAll(dir / "damaged", b));
        if (v) {
            EXPECT_EQ(v->find_first_not_of("0123456789."), std::string::npos) << *v;
        }
    };
    for (std::size_t len : {std::size_t(16), std::size_t(52), std::size_t(64), std::size_t(200),
                            std::size_t(1000), good.size() / 2, good.size() - 1})
        check(Bytes(good.begin(), good.begin() + long(len)));
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        Bytes b = good;
        // Damage the headers (where sizes and offsets live) more often than the rest.
        for (int k = 0; k < 8; ++k) {
            const std::size_t at = (k % 2 == 0) ? rng() % 64 : rng() % b.size();
            b[at] = uint8_t(rng());
        }
        check(b);
    }
}

} // namespace
} // namespace kvr::desktop
