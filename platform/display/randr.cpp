// RandR monitors through libX11/libXrandr opened with dlopen, so the suite runs (with the
// single-display fall-back) on machines without X libraries or without an X server.

#include "platform/display/randr.h"

#include "platform/common/log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

namespace kvr::display::detail {
namespace {

// The entry points we use, resolved once per process. The libraries stay loaded for the
// life of the process (Xlib keeps global state that must not be unmapped).
struct XApi {
    bool ok = false;
    bool haveMonitors = false; // libXrandr >= 1.5 (XRRGetMonitors)
    decltype(&::XOpenDisplay) openDisplay = nullptr;
    decltype(&::XCloseDisplay) closeDisplay = nullptr;
    decltype(&::XDefaultScreen) defaultScreen = nullptr;
    decltype(&::XRootWindow) rootWindow = nullptr;
    decltype(&::XDisplayWidth) displayWidth = nullptr;
    decltype(&::XDisplayHeight) displayHeight = nullptr;
    decltype(&::XGetAtomName) getAtomName = nullptr;
    decltype(&::XFree) free = nullptr;
    decltype(&::XRRQueryExtension) rrQueryExtension = nullptr;
    decltype(&::XRRQueryVersion) rrQueryVersion = nullptr;
    decltype(&::XRRGetMonitors) rrGetMonitors = nullptr;
    decltype(&::XRRFreeMonitors) rrFreeMonitors = nullptr;
};

template <typename F> bool bind(void* lib, const char* name, F& out) {
    out = reinterpret_cast<F>(::dlsym(lib, name));
    return out != nullptr;
}

XApi loadApi() {
    XApi api;
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (x11 == nullptr) {
        KVR_LOG_DEBUG("display: libX11 not available (%s)", ::dlerror());
        return api;
    }
    bool ok = bind(x11, "XOpenDisplay", api.openDisplay) &&
              bind(x11, "XCloseDisplay", api.closeDisplay) &&
              bind(x11, "XDefaultScreen", api.defaultScreen) &&
              bind(x11, "XRootWindow", api.rootWindow) &&
              bind(x11, "XDisplayWidth", api.displayWidth) &&
              bind(x11, "XDisplayHeight", api.displayHeight) &&
              bind(x11, "XGetAtomName", api.getAtomName) && bind(x11, "XFree", api.free);
    if (!ok) return XApi{};
    api.ok = true;
    void* xrandr = ::dlopen("libXrandr.so.2", RTLD_NOW | RTLD_LOCAL);
    if (xrandr == nullptr) {
        KVR_LOG_DEBUG("display: libXrandr not available (%s)", ::dlerror());
        return api;
    }
    api.haveMonitors = bind(xrandr, "XRRQueryExtension", api.rrQueryExtension) &&
                       bind(xrandr, "XRRQueryVersion", api.rrQueryVersion) &&
                       bind(xrandr, "XRRGetMonitors", api.rrGetMonitors) &&
                       bind(xrandr, "XRRFreeMonitors", api.rrFreeMonitors);
    return api;
}

const XApi& api() {
    static std::once_flag once;
    static XApi instance;
    std::call_once(once, [] { instance = loadApi(); });
    return instance;
}

// Xlib without XInitThreads is not safe for concurrent use, even on separate connections
// (it keeps process-wide state), so one query at a time.
std::mutex g_queryLock;

} // namespace

XScreenInfo queryX() {
    XScreenInfo info;
    const XApi& x = api();
    if (!x.ok) return info;
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return info;

    std::lock_guard lock(g_queryLock);
    ::Display* dpy = x.openDisplay(name);
    if (dpy == nullptr) {
        KVR_LOG_DEBUG("display: no X server answers on %s", name);
        return info;
    }
    info.serverAnswered = true;
    const int screen = x.defaultScreen(dpy);
    info.screenWidthPx = x.displayWidth(dpy, screen);
    info.screenHeightPx = x.displayHeight(dpy, screen);

    // XRRGetMonitors on a server without RandR 1.5 raises an X error, whose default handler
    // ends the process: ask for the version first.
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (x.haveMonitors && x.rrQueryExtension(dpy, &eventBase, &errorBase) &&
        x.rrQueryVersion(dpy, &major, &minor) && (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        XRRMonitorInfo* monitors = x.rrGetMonitors(dpy, x.rootWindow(dpy, screen), True, &count);
        for (int i = 0; monitors != nullptr && i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            if (m.width <= 0 || m.height <= 0) continue;
            Display d;
            if (char* atomName = x.getAtomName(dpy, m.name)) {
                d.name = atomName;
                x.free(atomName);
            }
            if (d.name.empty()) d.name = "MONITOR" + std::to_string(i + 1);
            d.leftPx = m.x;
            d.topPx = m.y;
            d.rightPx = m.x + m.width;
            d.bottomPx = m.y + m.height;
            d.primary = m.primary != 0;
            info.monitors.push_back(std::move(d));
        }
        if (monitors != nullptr) x.rrFreeMonitors(monitors);
    }
    x.closeDisplay(dpy);

    // Primary first, the rest in the server's order.
    std::stable_partition(info.monitors.begin(), info.monitors.end(),
                          [](const Display& d) { return d.primary; });
    bool seenPrimary = false;
    for (auto& d : info.monitors) { // a server reports at most one; keep it that way
        if (d.primary && seenPrimary) d.primary = false;
        seenPrimary = seenPrimary || d.primary;
    }
    return info;
}

} // namespace kvr::display::detail
