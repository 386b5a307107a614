#include "tests/support/xvfb.h"

#include "tests/support/test_env.h"

#include <filesystem>
#include <vector>

namespace kvr::test {

bool XvfbServer::installed() {
    std::error_code ec;
    return std::filesystem::exists(kProgram, ec);
}

XvfbServer::XvfbServer(const std::string& screen, const std::string& display) {
    if (!installed()) return;
    if (!display.empty()) {
        proc_.emplace(kProgram, std::vector<std::string>{display, "-screen", "0", screen,
                                                         "-nolisten", "tcp", "-noreset"});
        // The server accepts connections once its socket is there.
        const auto socket = "/tmp/.X11-unix/X" + display.substr(1);
        if (waitUntil([&] { return std::filesystem::exists(socket) || !proc_->running(); }) &&
            proc_->running())
            name_ = display;
        return;
    }
    // Two servers that start at the same moment may both pick the same free display number;
    // the one that loses ends at once ("server already running"), and is started again.
    for (int attempt = 0; attempt < 3 && name_.empty(); ++attempt) {
        proc_.emplace(kProgram, std::vector<std::string>{"-displayfd", "1", "-screen", "0", screen,
                                                         "-nolisten", "tcp", "-noreset"});
        if (!waitUntil([&] {
                return proc_->stdoutText().find('\n') != std::string::npos || !proc_->running();
            }))
            return;
        const std::string out = proc_->stdoutText();
        const auto end = out.find('\n');
        if (end != std::string::npos && end != 0 && proc_->running())
            name_ = ":" + out.substr(0, end);
    }
}

bool XvfbServer::signal(int sig) {
    return proc_ && proc_->signal(sig);
}

void XvfbServer::stop() {
    if (proc_) proc_->stop();
    name_.clear();
}

} // namespace kvr::test
