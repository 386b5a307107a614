#pragma once
// One private X server (Xvfb) for a test. -displayfd makes the server pick a free display
// number itself and report it once it accepts connections, so parallel tests never collide.
// The server stops when the object goes away.

#include "tests/support/child_process.h"

#include <optional>
#include <string>

namespace kvr::test {

class XvfbServer {
public:
    static constexpr const char* kProgram = "/usr/bin/Xvfb";
    static bool installed();

    // `screen` as Xvfb takes it ("1024x768x24").
    explicit XvfbServer(const std::string& screen = "1024x768x24");

    [[nodiscard]] bool ok() const { return !name_.empty(); }
    // The display name (":N") for DISPLAY.
    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] std::string log() const { return proc_ ? proc_->stderrText() : std::string(); }
    void stop();

private:
    std::optional<ChildProcess> proc_;
    std::string name_;
};

} // namespace kvr::test
