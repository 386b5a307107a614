#pragma once
// The receive log as a text file, one line per record, flushed line by line so a test can
// read it while kvrsim runs:
//
//   <ms since start> frame <hex bytes> "<text>"     a frame, SOH ... CR included
//   <ms since start> stray <hex bytes> "<text>"     bytes that were no frame (noise)
//
// e.g. `152.318 frame 01 47 50 39 45 0D "GP9E"`. Hex is upper case, two digits a byte; in
// the text column control bytes, '"' and bytes above 0x7E show as '.'.

#include "emulator/controller.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::emu {

std::string formatFrameRecord(const FrameRecord& record);
std::optional<FrameRecord> parseFrameRecord(std::string_view line);
// Every record of a log file (unreadable lines are skipped); empty when it can't be read.
std::vector<FrameRecord> readFrameLog(const std::filesystem::path& path);

class FrameLogFile {
public:
    // Opens (truncates) the file; nullptr and a message in `error` when it can't.
    static std::unique_ptr<FrameLogFile> open(const std::filesystem::path& path,
                                              std::string* error);
    void write(const FrameRecord& record);

private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    explicit FrameLogFile(FILE* f) : file_(f) {}
    std::unique_ptr<FILE, Closer> file_;
};

} // namespace kvr::emu
