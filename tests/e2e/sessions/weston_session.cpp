#include "tests/e2e/sessions/weston_session.h"

#include "tests/support/test_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <regex>
#include <stdlib.h>
#include <sys/stat.h>

namespace kvr::test {
namespace {

constexpr const char* kWeston = "/usr/bin/weston";
constexpr const char* kXwayland = "/usr/bin/Xwayland";
constexpr const char* kSocket = "kvr-session";

::Display* dpy(void* d) {
    return static_cast<::Display*>(d);
}

// The X11 back end's window of one output (named "Weston Compositor - screen1").
Window outputWindow(::Display* d, const std::string& output) {
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count) == 0) return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* name = nullptr;
        if (XGetWindowProperty(d, children[i], netName, 0, 64, False, utf8, &type, &format, &items,
                               &after, &name) == Success &&
            name != nullptr) {
            const std::string text(reinterpret_cast<const char*>(name), items);
            if (text.ends_with("- " + output)) found = children[i];
        }
        if (name != nullptr) XFree(name);
    }
    if (children != nullptr) XFree(children);
    return found;
}

int windowX(::Display* d, Window w) {
    XWindowAttributes a{};
    return XGetWindowAttributes(d, w, &a) != 0 ? a.x : -1;
}

} // namespace

bool WestonSession::installed() {
    std::error_code ec;
    return XvfbServer::installed() && std::filesystem::exists(kWeston, ec) &&
           std::filesystem::exists(kXwayland, ec);
}

WestonSession::WestonSession() : xvfb_(std::to_string(2 * kOutputWidthPx) + "x768x24") {
    ok_ = installed() && xvfb_.ok() && start();
}

WestonSession::~WestonSession() {
    weston_.reset(); // XWayland goes with it
    if (screen_ != nullptr) XCloseDisplay(dpy(screen_));
}

bool WestonSession::start() {
    stage_ = "opening the nested screen";
    screen_ = XOpenDisplay(xvfb_.name().c_str());
    if (screen_ == nullptr) return false;
    runtimeDir_ = makeTempDir("wayland");
    ::chmod(runtimeDir_.c_str(), 0700); // as a session's XDG_RUNTIME_DIR must be
    ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    ::setenv("DISPLAY", xvfb_.name().c_str(), 1);
    weston_ = std::make_unique<ChildProcess>(
        kWeston, std::vector<std::string>{"--backend=x11-backend.so", "--output-count=2",
                                          "--width=1024", "--height=768", "--use-pixman",
                                          "--xwayland", "--no-config", "--idle-time=0",
                                          std::string("--socket=") + kSocket});
    // XWayland's display number is in the log once the compositor listens for X clients.
    stage_ = "waiting for the compositor";
    const std::regex listening("xserver listening on display (:[0-9]+)");
    std::smatch m;
    const auto socket = runtimeDir_ / kSocket;
    if (!waitUntil([&] {
            const std::string log = weston_->stderrText();
            if (std::regex_search(log, m, listening)) xwayland_ = m[1];
            return (!xwayland_.empty() && std::filesystem::exists(socket)) || !weston_->running();
        }) ||
        !weston_->running())
        return false;

    // Both outputs' windows start at the nested screen's origin: output 2 moves to its place.
    stage_ = "placing output 2";
    ::Display* d = dpy(screen_);
    Window second = 0;
    if (!waitUntil([&] { return (second = outputWindow(d, "screen1")) != 0; })) return false;
    XMoveWindow(d, second, kOutputWidthPx, 0);
    XSync(d, False);
    if (!waitUntil([&] { return windowX(d, second) == kOutputWidthPx; })) return false;
    stage_ = "running";
    return true;
}

std::string WestonSession::diagnostics() const {
    std::string text = "stage: " + stage_ + "\nxvfb " + xvfb_.name() + ": " + xvfb_.log();
    if (weston_) text += "\nweston: " + weston_->stderrText();
    return text;
}

void WestonSession::becomeWaylandClient() const {
    ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", kSocket, 1);
    ::unsetenv("DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "wayland", 1);
}

void WestonSession::becomeXWaylandClient() const {
    ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("DISPLAY", xwayland_.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

std::vector<std::uint32_t> WestonSession::grab(int x, int y, int width, int height) const {
    std::vector<std::uint32_t> out;
    ::Display* d = dpy(screen_);
    XImage* image =
        d == nullptr ? nullptr
                     : XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                                 static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) return out;
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            out.push_back(static_cast<std::uint32_t>(XGetPixel(image, col, row) & 0xFFFFFF));
    XDestroyImage(image);
    return out;
}

std::uint32_t WestonSession::pixel(int x, int y) const {
    const auto one = grab(x, y, 1, 1);
    return one.empty() ? 0 : one[0];
}

} // namespace kvr::test
