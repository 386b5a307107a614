#include "platform/desktop/version_note.h"

#include "platform/common/unique_fd.h"

#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvr::desktop {
namespace {

// Sections and segments we look at, at most; a file claiming more is not trusted further.
constexpr uint64_t kMaxHeaders = 4096;
// Largest note area read into memory.
constexpr uint64_t kMaxNoteBytes = 1 << 20;

class ElfFile {
public:
    explicit ElfFile(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ && ::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode))
            size_ = static_cast<uint64_t>(st.st_size);
    }

    // Reads `len` bytes at `off`, only when they lie wholly inside the file.
    bool read(uint64_t off, void* out, uint64_t len) const {
        if (!fd_ || off > size_ || len > size_ - off) return false;
        return ::pread(fd_.get(), out, len, static_cast<off_t>(off)) == static_cast<ssize_t>(len);
    }
    uint64_t size() const { return size_; }

private:
    UniqueFd fd_;
    uint64_t size_ = 0;
};

struct Layout {
    bool is64 = false;
    bool bigEndian = false;

    uint64_t u(const uint8_t* p, int bytes) const {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            const int shift = bigEndian ? (bytes - 1 - i) * 8 : i * 8;
            v |= uint64_t(p[i]) << shift;
        }
        return v;
    }
    uint64_t word(const uint8_t* p) const { return u(p, is64 ? 8 : 4); } // an address or offset
};

bool validVersionText(const std::string& s) {
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        uint32_t value = 0;
        std::size_t digits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            value = value * 10 + uint32_t(s[i] - '0');
            if (++digits > 5 || value > 65535) return false;
            ++i;
        }
        if (digits == 0) return false;
        ++parts;
        if (i == s.size()) return parts == 4;
        if (s[i] != '.' || parts == 4) return false;
        ++i;
    }
}

// Walks one note area; the version text when the owner's note is in it.
std::optional<std::string> findInNotes(const ElfFile& f, const Layout& l, uint64_t off,
                                       uint64_t len) {
    if (len == 0 || len > kMaxNoteBytes) return std::nullopt;
    std::vector<uint8_t> buf(len);
    if (!f.read(off, buf.data(), len)) return std::nullopt;
    auto pad4 = [](uint64_t n) { return (n + 3) & ~uint64_t(3); };
    uint64_t pos = 0;
    while (len - pos >= 12) {
        const uint64_t namesz = l.u(&buf[pos], 4);
        const uint64_t descsz = l.u(&buf[pos + 4], 4);
        const uint64_t type = l.u(&buf[pos + 8], 4);
        pos += 12;
        if (pad4(namesz) > len - pos) return std::nullopt;
        const uint8_t* name = &buf[pos];
        pos += pad4(namesz);
        if (pad4(descsz) > len - pos) return std::nullopt;
        const uint8_t* desc = &buf[pos];
        pos += pad4(descsz);
        const std::size_t ownerLen = std::strlen(kVersionNoteOwner);
        if (type == kVersionNoteType && namesz == ownerLen + 1 &&
            std::memcmp(name, kVersionNoteOwner, ownerLen + 1) == 0 && descsz > 0) {
            // The text ends at its zero (or at the note's end without one).
            const auto* end = static_cast<const uint8_t*>(std::memchr(desc, 0, descsz));
            std::string text(reinterpret_cast<const char*>(desc),
                             end ? static_cast<std::size_t>(end - desc) : descsz);
            if (validVersionText(text)) return text;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::string> readVersion(const std::filesystem::path& path) {
    ElfFile f(path);
    uint8_t ident[EI_NIDENT];
    if (!f.read(0, ident, EI_NIDENT) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return std::nullopt;
    Layout l;
    if (ident[EI_CLASS] == ELFCLASS64)
        l.is64 = true;
    else if (ident[EI_CLASS] != ELFCLASS32)
        return std::nullopt;
    if (ident[EI_DATA] == ELFDATA2MSB)
        l.bigEndian = true;
    else if (ident[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;

    // The header fields we need, at their offsets in the 32- and 64-bit layouts.
    const uint64_t ehsize = l.is64 ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
    uint8_t eh[sizeof(Elf64_Ehdr)];
    if (!f.read(0, eh, ehsize)) return std::nullopt;
    const uint64_t phoff = l.word(eh + (l.is64 ? 32 : 28));
    const uint64_t shoff = l.word(eh + (l.is64 ? 40 : 32));
    const uint64_t phentsize = l.u(eh + (l.is64 ? 54 : 42), 2);
    const uint64_t phnum = l.u(eh + (l.is64 ? 56 : 44), 2);
    const uint64_t shentsize = l.u(eh + (l.is64 ? 58 : 46), 2);
    const uint64_t shnum = l.u(eh + (l.is64 ? 60 : 48), 2);

    // Section headers: every SHT_NOTE section.
    const uint64_t shMin = l.is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
    if (shoff != 0 && shnum > 0 && shnum <= kMaxHeaders && shentsize >= shMin) {
        for (uint64_t i = 0; i < shnum; ++i) {
            uint8_t sh[sizeof(Elf64_Shdr)];
            if (!f.read(shoff + i * shentsize, sh, shMin)) break;
            if (l.u(sh + 4, 4) != SHT_NOTE) continue;
            const uint64_t off = l.word(sh + (l.is64 ? 24 : 16));
            const uint64_t size = l.word(sh + (l.is64 ? 32 : 20));
            if (auto v = findInNotes(f, l, off, size)) return v;
        }
    }
    // Program headers: every PT_NOTE segment (a file stripped of its section headers).
    const uint64_t phMin = l.is64 ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr);
    if (phoff != 0 && phnum > 0 && phnum <= kMaxHeaders && phentsize >= phMin) {
        for (uint64_t i = 0; i < phnum; ++i) {
            uint8_t ph[sizeof(Elf64_Phdr)];
            if (!f.read(phoff + i * phentsize, ph, phMin)) break;
            if (l.u(ph, 4) != PT_NOTE) continue;
            const uint64_t off = l.is64 ? l.word(ph + 8) : l.word(ph + 4);
            const uint64_t size = l.is64 ? l.word(ph + 32) : l.word(ph + 16);
            if (auto v = findInNotes(f, l, off, size)) return v;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> readFileVersion(const std::filesystem::path& path) {
    try {
        return readVersion(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace kvr::desktop
