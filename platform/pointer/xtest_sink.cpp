// The XTest sink: fake pointer motion and button events on an X server. libX11, libXtst and
// (optionally) libXrandr are bound at run time, so the daemon runs on machines without X.

#include "platform/common/log.h"
#include "platform/pointer/pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <vector>

namespace kvr::pointer {

namespace {

// The Xlib entry points this sink uses, bound once per process. Types come from the headers,
// so a mismatch is a compile error rather than a crash.
struct XApi {
    bool ok = false;
    std::string error;
    decltype(&::XOpenDisplay) openDisplay = nullptr;
    decltype(&::XCloseDisplay) closeDisplay = nullptr;
    decltype(&::XFlush) flush = nullptr;
    decltype(&::XDefaultScreen) defaultScreen = nullptr;
    decltype(&::XDisplayWidth) displayWidth = nullptr;
    decltype(&::XDisplayHeight) displayHeight = nullptr;
    decltype(&::XRootWindow) rootWindow = nullptr;
    decltype(&::XSetErrorHandler) setErrorHandler = nullptr;
    decltype(&::XSetIOErrorHandler) setIOErrorHandler = nullptr;
    decltype(&::XSetIOErrorExitHandler) setIOErrorExitHandler = nullptr; // libX11 >= 1.7
    decltype(&::XTestQueryExtension) testQueryExtension = nullptr;
    decltype(&::XTestFakeMotionEvent) fakeMotion = nullptr;
    decltype(&::XTestFakeButtonEvent) fakeButton = nullptr;
    decltype(&::XRRGetMonitors) getMonitors = nullptr; // optional: primary monitor geometry
    decltype(&::XRRFreeMonitors) freeMonitors = nullptr;
};

template <class F> bool bind(void* lib, const char* name, F& out) {
    out = reinterpret_cast<F>(::dlsym(lib, name));
    return out != nullptr;
}

// Displays opened by this sink, so the process-wide error handlers know whose errors to take
// (Xlib's default handlers end the process, on a protocol error and when the server goes away).
// Errors of other connections in the process go to the handlers that were there before.
// (Never destroyed: a sink may be closed during the process's exit, after static destructors.)
std::mutex g_displaysMutex;
std::vector<::Display*>& g_displays = *new std::vector<::Display*>;
XErrorHandler g_previousErrorHandler = nullptr;
XIOErrorHandler g_previousIOErrorHandler = nullptr;

bool isOurs(::Display* dpy) {
    std::lock_guard lock(g_displaysMutex);
    return std::find(g_displays.begin(), g_displays.end(), dpy) != g_displays.end();
}

int onXError(::Display* dpy, XErrorEvent* ev) {
    if (isOurs(dpy)) {
        KVR_LOG_WARN("pointer: X error %d (request %d.%d) ignored",
                     static_cast<int>(ev->error_code), static_cast<int>(ev->request_code),
                     static_cast<int>(ev->minor_code));
        return 0;
    }
    return g_previousErrorHandler != nullptr ? g_previousErrorHandler(dpy, ev) : 0;
}

// Returning lets Xlib go on to the connection's exit handler (XTestSink::onConnectionLost),
// which marks the sink lost instead of ending the process.
int onXIOError(::Display* dpy) {
    if (isOurs(dpy)) return 0;
    return g_previousIOErrorHandler != nullptr ? g_previousIOErrorHandler(dpy) : 0;
}

const XApi& xapi() {
    static XApi& api = *new XApi; // never destroyed: sinks may close during exit
    static std::once_flag once;
    std::call_once(once, [] {
        void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (x11 == nullptr) {
            // Runs once, under call_once.
            api.error = std::string("libX11 not available: ") +
                        ::dlerror(); // NOLINT(concurrency-mt-unsafe)
            return;
        }
        void* xtst = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (xtst == nullptr) {
            api.error = std::string("libXtst not available: ") +
                        ::dlerror(); // NOLINT(concurrency-mt-unsafe)
            return;
        }
        const bool all = bind(x11, "XOpenDisplay", api.openDisplay) &&
                         bind(x11, "XCloseDisplay", api.closeDisplay) &&
                         bind(x11, "XFlush", api.flush) &&
                         bind(x11, "XDefaultScreen", api.defaultScreen) &&
                         bind(x11, "XDisplayWidth", api.displayWidth) &&
                         bind(x11, "XDisplayHeight", api.displayHeight) &&
                         bind(x11, "XRootWindow", api.rootWindow) &&
                         bind(x11, "XSetErrorHandler", api.setErrorHandler) &&
                         bind(x11, "XSetIOErrorHandler", api.setIOErrorHandler) &&
                         bind(xtst, "XTestQueryExtension", api.testQueryExtension) &&
                         bind(xtst, "XTestFakeMotionEvent", api.fakeMotion) &&
                         bind(xtst, "XTestFakeButtonEvent", api.fakeButton);
        if (!all) {
            api.error = "libX11/libXtst lack an expected function";
            return;
        }
        bind(x11, "XSetIOErrorExitHandler", api.setIOErrorExitHandler);
        if (void* xrandr = ::dlopen("libXrandr.so.2", RTLD_NOW | RTLD_LOCAL)) {
            if (!bind(xrandr, "XRRGetMonitors", api.getMonitors) ||
                !bind(xrandr, "XRRFreeMonitors", api.freeMonitors)) {
                api.getMonitors = nullptr;
                api.freeMonitors = nullptr;
            }
        }
        g_previousErrorHandler = api.setErrorHandler(onXError);
        // Without an exit handler per connection Xlib would end the process after any IO
        // handler; then the default one stays in place.
        if (api.setIOErrorExitHandler != nullptr)
            g_previousIOErrorHandler = api.setIOErrorHandler(onXIOError);
        api.ok = true;
        // The libraries stay loaded for the life of the process: handlers point into them.
    });
    return api;
}

struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// How often the primary display's geometry is asked again (monitors come and go; one round
// trip a second costs nothing).
constexpr auto kGeometryRefresh = std::chrono::seconds(1);

class XTestSink final : public Sink {
public:
    XTestSink(const XApi& api, ::Display* dpy) : api_(api), dpy_(dpy) {
        screen_ = api_.defaultScreen(dpy_);
        if (api_.setIOErrorExitHandler != nullptr) {
            // When the server goes away, Xlib would end the process; instead the sink stops
            // using the connection and drops samples.
            api_.setIOErrorExitHandler(dpy_, &XTestSink::onConnectionLost, this);
        } else {
            KVR_LOG_WARN("pointer: this libX11 ends the process when the X server goes away");
        }
        refreshGeometry();
    }
    ~XTestSink() override {
        {
            std::lock_guard lock(g_displaysMutex);
            std::erase(g_displays, dpy_);
        }
        if (!lost_.load()) api_.closeDisplay(dpy_);
        // A lost connection is left unclosed: Xlib cannot close it cleanly any more.
    }
    XTestSink(const XTestSink&) = delete;
    XTestSink& operator=(const XTestSink&) = delete;

    void deliver(int32_t pointerX, int32_t pointerY, uint16_t buttonFlags) override {
        std::lock_guard lock(mutex_);
        if (lost_.load()) return;
        if (std::chrono::steady_clock::now() - geometryTime_ >= kGeometryRefresh) refreshGeometry();
        int32_t px = pointerToPixel(pointerX, primary_.x, primary_.width);
        int32_t py = pointerToPixel(pointerY, primary_.y, primary_.height);
        // The X server keeps the pointer on its screen anyway; clamping here keeps the request
        // values in range of the protocol's 16-bit coordinates.
        px = px < 0 ? 0 : (px >= screenWidth_ ? screenWidth_ - 1 : px);
        py = py < 0 ? 0 : (py >= screenHeight_ ? screenHeight_ - 1 : py);
        api_.fakeMotion(dpy_, screen_, px, py, CurrentTime);
        // Presses before releases: a record carrying both is a click.
        if ((buttonFlags & kLeftButtonDown) != 0) api_.fakeButton(dpy_, Button1, True, CurrentTime);
        if ((buttonFlags & kRightButtonDown) != 0)
            api_.fakeButton(dpy_, Button3, True, CurrentTime);
        if ((buttonFlags & kLeftButtonUp) != 0) api_.fakeButton(dpy_, Button1, False, CurrentTime);
        if ((buttonFlags & kRightButtonUp) != 0) api_.fakeButton(dpy_, Button3, False, CurrentTime);
        api_.flush(dpy_);
    }
    const char* kind() const override { return "xtest"; }

private:
    static void onConnectionLost(::Display*, void* self) {
        auto* sink = static_cast<XTestSink*>(self);
        if (!sink->lost_.exchange(true))
            KVR_LOG_ERROR("pointer: lost the X server; pointer samples are dropped");
    }

    // Primary monitor from RandR (the first when none is marked), else the whole screen.
    void refreshGeometry() {
        geometryTime_ = std::chrono::steady_clock::now();
        screenWidth_ = api_.displayWidth(dpy_, screen_);
        screenHeight_ = api_.displayHeight(dpy_, screen_);
        primary_ = Rect{0, 0, screenWidth_, screenHeight_};
        if (api_.getMonitors == nullptr) return;
        int count = 0;
        XRRMonitorInfo* monitors =
            api_.getMonitors(dpy_, api_.rootWindow(dpy_, screen_), True, &count);
        if (monitors == nullptr) return;
        const XRRMonitorInfo* chosen = nullptr;
        for (int i = 0; i < count; ++i) {
            if (monitors[i].width <= 0 || monitors[i].height <= 0) continue;
            if (chosen == nullptr || (monitors[i].primary && !chosen->primary))
                chosen = &monitors[i];
        }
        if (chosen != nullptr) primary_ = Rect{chosen->x, chosen->y, chosen->width, chosen->height};
        api_.freeMonitors(monitors);
    }

    const XApi& api_;
    std::mutex mutex_; // one request stream on the connection at a time
    ::Display* dpy_;
    std::atomic<bool> lost_{false};
    int screen_ = 0;
    int32_t screenWidth_ = 1, screenHeight_ = 1;
    Rect primary_;
    std::chrono::steady_clock::time_point geometryTime_{};
};

} // namespace

std::unique_ptr<Sink> openXTestSink(std::string& error, const char* displayName) {
    error.clear();
    const XApi& api = xapi();
    if (!api.ok) {
        error = api.error;
        return nullptr;
    }
    ::Display* dpy = api.openDisplay(displayName);
    if (dpy == nullptr) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): read once at open, as Xlib itself does.
        const char* env = displayName != nullptr ? displayName : std::getenv("DISPLAY");
        error =
            std::string("cannot open X display ") + (env != nullptr ? env : "(DISPLAY not set)");
        return nullptr;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!api.testQueryExtension(dpy, &eventBase, &errorBase, &major, &minor)) {
        api.closeDisplay(dpy);
        error = "the X server has no XTEST extension";
        return nullptr;
    }
    {
        std::lock_guard lock(g_displaysMutex);
        g_displays.push_back(dpy);
    }
    KVR_LOG_INFO("pointer: XTest on display %s", displayName != nullptr ? displayName : "$DISPLAY");
    return std::make_unique<XTestSink>(api, dpy);
}

} // namespace kvr::pointer
