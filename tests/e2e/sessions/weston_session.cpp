#include "tests/e2e/sessions/weston_session.h"

#include "tests/support/test_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <filesystem>
#include <regex>
#include <stdlib.h>
#include <sys/stat.h>

namespace kvr::test {
namespace {

constexpr const char* kSocket = "kvr-session";

// The back end's window of output 2: the topmost, mapped after output 1's.
Window secondOutputWindow(::Display* d) {
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count) != 0 && count == 2)
        found = children[1];
    if (children != nullptr) XFree(children);
    return found;
}

} // namespace

bool WestonSession::installed() {
    return XvfbServer::installed() && std::filesystem::exists("/usr/bin/weston") &&
           std::filesystem::exists("/usr/bin/Xwayland");
}

WestonSession::WestonSession() : xvfb_("2048x768x24") {
    ok_ = installed() && xvfb_.ok() && start();
}

WestonSession::~WestonSession() {
    weston_.reset(); // XWayland goes with it
    if (screen_ != nullptr) XCloseDisplay(static_cast<::Display*>(screen_));
}

bool WestonSession::start() {
    auto* d = XOpenDisplay(xvfb_.name().c_str());
    if ((screen_ = d) == nullptr) return false;
    runtimeDir_ = makeTempDir("wayland").string();
    ::chmod(runtimeDir_.c_str(), 0700); // as a session's runtime folder must be
    ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    ::setenv("DISPLAY", xvfb_.name().c_str(), 1);
    weston_ = std::make_unique<ChildProcess>(
        "/usr/bin/weston",
        std::vector<std::string>{"--backend=x11-backend.so", "--output-count=2", "--width=1024",
                                 "--height=768", "--use-pixman", "--xwayland", "--no-config",
                                 "--idle-time=0", std::string("--socket=") + kSocket});
    // XWayland's display is in the log once the compositor listens for X clients; the
    // outputs' windows start at the nested screen's origin, and output 2 goes to its place.
    const std::regex listening("xserver listening on display (:[0-9]+)");
    std::smatch m;
    Window second = 0;
    if (!waitUntil([&] {
            const std::string text = weston_->stderrText();
            if (std::regex_search(text, m, listening)) xwayland_ = m[1];
            second = secondOutputWindow(d);
            return (!xwayland_.empty() && second != 0) || !weston_->running();
        }) ||
        !weston_->running())
        return false;
    XMoveWindow(d, second, kWidthPx, 0);
    XSync(d, False);
    return waitUntil([&] {
        XWindowAttributes a{};
        return XGetWindowAttributes(d, second, &a) != 0 && a.x == kWidthPx &&
               std::filesystem::exists(runtimeDir_ + "/" + kSocket);
    });
}

std::string WestonSession::diagnostics() const {
    return "xvfb " + xvfb_.name() + ": " + xvfb_.log() +
           "\nweston: " + (weston_ ? weston_->stderrText() : std::string("not started"));
}

void WestonSession::becomeClient(bool ofXWayland) const {
    ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", ofXWayland ? "xcb" : "wayland", 1);
    ::unsetenv(ofXWayland ? "WAYLAND_DISPLAY" : "DISPLAY");
    ::setenv(ofXWayland ? "DISPLAY" : "WAYLAND_DISPLAY", ofXWayland ? xwayland_.c_str() : kSocket,
             1);
}

std::uint32_t WestonSession::pixel(int x, int y) const {
    auto* d = static_cast<::Display*>(screen_);
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return 0;
    const auto rgb = static_cast<std::uint32_t>(XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return rgb;
}

} // namespace kvr::test
