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

    // `screen` as Xvfb takes it ("1024x768x24"). `display` (":N"): that display number
    // instead of a free one (a server started again where the last one was).
    explicit XvfbServer(const std::string& screen = "1024x768x24", const std::string& display = "");

    [[nodiscard]] bool ok() const { return !name_.empty(); }
    // The display name (":N") for DISPLAY.
    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] std::string log() const { return proc_ ? proc_->stderrText() : std::string(); }
    void stop();
    // Sends the server a signal (SIGSTOP: a server that stops answering); false when gone.
    bool signal(int sig);

private:
    std::optional<ChildProcess> proc_;
    std::string name_;
};

} // namespace kvr::test
