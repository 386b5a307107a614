#pragma once
// A desktop session with two monitors for a test: weston with its X11 back end and two
// 1024 x 768 outputs side by side, XWayland enabled, nested in a private Xvfb whose screen
// shows both outputs (output 1 at x 0..1023, output 2 at 1024..2047), so what the programs
// draw on either output can be read back as pixels. Shared by the session tests and the
// calibration benchmark.

#include "tests/support/child_process.h"
#include "tests/support/xvfb.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kvr::test {

class WestonSession {
public:
    static constexpr int kOutputWidthPx = 1024;
    static constexpr int kOutputHeightPx = 768;
    static bool installed(); // weston and Xwayland

    WestonSession();
    ~WestonSession();
    WestonSession(const WestonSession&) = delete;
    WestonSession& operator=(const WestonSession&) = delete;

    // Both outputs on the nested screen and the compositor serving. diagnostics() says why not.
    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] std::string diagnostics() const;
    // XWayland's display (":N").
    [[nodiscard]] const std::string& xwaylandDisplay() const { return xwayland_; }

    // The environment of this process (and of the programs it starts from now on): a native
    // Wayland client of the compositor (no DISPLAY), or an X client of XWayland (no
    // WAYLAND_DISPLAY). Either way the Qt platform to match.
    void becomeWaylandClient() const;
    void becomeXWaylandClient() const;

    // 0xRRGGBB of the nested screen's pixels in a rectangle, row by row; of one pixel.
    [[nodiscard]] std::vector<std::uint32_t> grab(int x, int y, int width, int height) const;
    [[nodiscard]] std::uint32_t pixel(int x, int y) const;

private:
    bool start();

    XvfbServer xvfb_;
    void* screen_ = nullptr; // ::Display* of the Xvfb, kept out of this header
    std::filesystem::path runtimeDir_;
    std::unique_ptr<ChildProcess> weston_;
    std::string xwayland_;
    std::string stage_ = "starting Xvfb";
    bool ok_ = false;
};

} // namespace kvr::test
