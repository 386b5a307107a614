#pragma once
// A client of kvrsim's control socket, for tests and scripts written in C++: one statement
// per call, the answer line back.

#include "platform/common/unique_fd.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace kvr::emu {

class ControlClient {
public:
    // Connects to a running kvrsim; nullptr and a message in `error` when nobody serves it.
    static std::unique_ptr<ControlClient> connect(const std::filesystem::path& socket,
                                                  std::string* error);

    // Sends one line and returns the answer line ("ok", "error: ..."); "" when the
    // connection failed or no answer came within `deadline`.
    std::string say(const std::string& line,
                    std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // The next answer line (after "frames": one log line per call, then "end").
    std::string readLine(std::chrono::milliseconds deadline = std::chrono::seconds(20));

private:
    explicit ControlClient(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
    std::string pending_;
};

} // namespace kvr::emu
