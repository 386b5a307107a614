#pragma once
// A desktop with two monitors: weston (X11 back end, two 1024 x 768 outputs, XWayland) nested
// in a private Xvfb whose screen shows output 1 at x 0..1023 and output 2 at 1024..2047, so
// what programs draw on either output can be read back as pixels.

#include "tests/support/child_process.h"
#include "tests/support/xvfb.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kvr::test {

class WestonSession {
public:
    static constexpr int kWidthPx = 1024, kHeightPx = 768; // of each output
    static bool installed();
    WestonSession();
    ~WestonSession();
    WestonSession(const WestonSession&) = delete;
    WestonSession& operator=(const WestonSession&) = delete;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] std::string diagnostics() const;
    [[nodiscard]] const std::string& xwaylandDisplay() const { return xwayland_; }
    // This process and the programs it starts from now on: a native Wayland client, or an X
    // client of XWayland (true), with the Qt platform to match.
    void becomeClient(bool ofXWayland) const;
    // 0xRRGGBB of a pixel of the nested screen.
    [[nodiscard]] std::uint32_t pixel(int x, int y) const;

private:
    bool start();
    XvfbServer xvfb_;
    void* screen_ = nullptr; // ::Display* of the Xvfb
    std::string runtimeDir_, xwayland_;
    std::unique_ptr<ChildProcess> weston_;
    bool ok_ = false;
};

} // namespace kvr::test
