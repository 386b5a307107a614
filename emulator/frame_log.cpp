#include "emulator/frame_log.h"

#include <charconv>
#include <cstring>
#include <fstream>

namespace kvr::emu {

std::string formatFrameRecord(const FrameRecord& r) {
    char head[48];
    const auto us = r.time.count();
    std::snprintf(head, sizeof head, "%lld.%03lld %s", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000), r.stray ? "stray" : "frame");
    std::string line = head;
    std::string text;
    for (const uint8_t b : r.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
        const bool framing = !r.stray && (b == frame::kSoh || b == frame::kCr);
        if (!framing) text += (b >= 0x20 && b <= 0x7E && b != '"') ? static_cast<char>(b) : '.';
    }
    line += " \"" + text + "\"";
    return line;
}

std::optional<FrameRecord> parseFrameRecord(std::string_view line) {
    FrameRecord r;
    const size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return std::nullopt;
    const std::string_view time = line.substr(0, sp);
    const size_t dot = time.find('.');
    long long ms = 0, frac = 0;
    const std::string_view msText = time.substr(0, dot);
    if (std::from_chars(msText.data(), msText.data() + msText.size(), ms).ec != std::errc())
        return std::nullopt;
    if (dot != std::string_view::npos) {
        const std::string_view f = time.substr(dot + 1);
        if (std::from_chars(f.data(), f.data() + f.size(), frac).ec != std::errc())
            return std::nullopt;
    }
    r.time = SimTime(ms * 1000 + frac);
    line.remove_prefix(sp + 1);
    if (line.starts_with("frame "))
        r.stray = false;
    else if (line.starts_with("stray "))
        r.stray = true;
    else
        return std::nullopt;
    line.remove_prefix(6);
    while (line.size() >= 2 && line[0] != '"') {
        unsigned v = 0;
        if (std::from_chars(line.data(), line.data() + 2, v, 16).ec != std::errc())
            return std::nullopt;
        r.bytes.push_back(static_cast<uint8_t>(v));
        line.remove_prefix(std::min<size_t>(3, line.size()));
    }
    return r;
}

std::vector<FrameRecord> readFrameLog(const std::filesystem::path& path) {
    std::vector<FrameRecord> all;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (auto r = parseFrameRecord(line)) all.push_back(std::move(*r));
    return all;
}

std::unique_ptr<FrameLogFile> FrameLogFile::open(const std::filesystem::path& path,
                                                 std::string* error) {
    FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) {
        *error = "cannot write the frame log " + path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<FrameLogFile>(new FrameLogFile(f));
}

void FrameLogFile::write(const FrameRecord& record) {
    const std::string line = formatFrameRecord(record) + "\n";
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fflush(file_.get());
}

} // namespace kvr::emu
