// Wayland outputs through libwayland-client opened with dlopen, like the RandR query: the
// library has no Qt, and the suite must run where the Wayland client library is missing.
//
// One short-lived connection per query: registry, then wl_output (up to version 4, for the
// name) and zxdg_output_manager_v1 (up to version 3); a round trip brings the outputs'
// properties, and a second one their xdg-output logical position and size. Every wait has a
// deadline, so a compositor that has stopped answering cannot hang the caller.

#include "platform/display/wayland.h"

#include "platform/common/log.h"
#include "platform/common/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <wayland-client-core.h>
#include <wayland-client-protocol.h>

namespace kvr::display::detail {

std::optional<Display> logicalDisplay(const OutputReport& o, std::size_t position) {
    Display d;
    d.name = !o.outputName.empty() ? o.outputName
             : !o.xdgName.empty()  ? o.xdgName
                                   : "OUTPUT" + std::to_string(position);
    int64_t left = o.x, top = o.y, width = 0, height = 0;
    if (o.haveLogicalPosition) {
        left = o.logicalX;
        top = o.logicalY;
    }
    if (o.haveLogicalSize) {
        width = o.logicalWidth;
        height = o.logicalHeight;
    } else {
        const int64_t scale = o.scale > 0 ? o.scale : 1;
        const bool turned = (o.transform & 1) != 0; // 90 and 270, flipped or not
        width = (turned ? o.modeHeightPx : o.modeWidthPx) / scale;
        height = (turned ? o.modeWidthPx : o.modeHeightPx) / scale;
    }
    const int64_t right = left + width, bottom = top + height;
    if (width <= 0 || height <= 0 || right > INT32_MAX || bottom > INT32_MAX) return std::nullopt;
    d.leftPx = static_cast<int32_t>(left);
    d.topPx = static_cast<int32_t>(top);
    d.rightPx = static_cast<int32_t>(right);
    d.bottomPx = static_cast<int32_t>(bottom);
    return d;
}

std::vector<Display> displaysFromOutputs(const std::vector<OutputReport>& outputs) {
    std::vector<Display> displays;
    for (const OutputReport& o : outputs)
        if (auto d = logicalDisplay(o, displays.size() + 1)) displays.push_back(std::move(*d));
    for (Display& d : displays) {
        if (d.leftPx == 0 && d.topPx == 0) {
            d.primary = true;
            break;
        }
    }
    return displays;
}

namespace {

// How long a compositor may take for the whole query.
constexpr auto kDeadline = std::chrono::seconds(2);

// Highest versions we speak: wl_output 4 brings the name; xdg-output 3 only moves "done".
constexpr uint32_t kOutputVersion = 4;
constexpr uint32_t kXdgOutputManagerVersion = 3;

// zxdg_output_manager_v1 and zxdg_output_v1, as the protocol describes them. The wl_output
// type of get_xdg_output's argument is filled in when the library is bound.
const wl_interface* g_xdgTypes[] = {nullptr, nullptr, nullptr, nullptr};
const wl_message kXdgManagerRequests[] = {
    {"destroy", "", g_xdgTypes},
    {"get_xdg_output", "no", g_xdgTypes + 2},
};
const wl_message kXdgOutputRequests[] = {{"destroy", "", g_xdgTypes}};
const wl_message kXdgOutputEvents[] = {
    {"logical_position", "ii", g_xdgTypes},
    {"logical_size", "ii", g_xdgTypes},
    {"done", "", g_xdgTypes},
    {"name", "2s", g_xdgTypes},
    {"description", "2s", g_xdgTypes},
};
const wl_interface kXdgOutputManagerInterface = {"zxdg_output_manager_v1", 3, 2,
                                                 kXdgManagerRequests,      0, nullptr};
const wl_interface kXdgOutputInterface = {"zxdg_output_v1",   3, 1,
                                          kXdgOutputRequests, 5, kXdgOutputEvents};
constexpr uint32_t kXdgManagerDestroy = 0, kXdgManagerGetOutput = 1, kXdgOutputDestroy = 0;

struct XdgOutputListener {
    void (*logicalPosition)(void*, wl_proxy*, int32_t, int32_t);
    void (*logicalSize)(void*, wl_proxy*, int32_t, int32_t);
    void (*done)(void*, wl_proxy*);
    void (*name)(void*, wl_proxy*, const char*);
    void (*description)(void*, wl_proxy*, const char*);
};

// The entry points used, resolved once per process; the library stays loaded.
struct WlApi {
    bool ok = false;
    decltype(&::wl_display_connect_to_fd) connectToFd = nullptr;
    decltype(&::wl_display_disconnect) disconnect = nullptr;
    decltype(&::wl_display_get_fd) getFd = nullptr;
    decltype(&::wl_display_flush) flush = nullptr;
    decltype(&::wl_display_prepare_read) prepareRead = nullptr;
    decltype(&::wl_display_read_events) readEvents = nullptr;
    decltype(&::wl_display_cancel_read) cancelRead = nullptr;
    decltype(&::wl_display_dispatch_pending) dispatchPending = nullptr;
    decltype(&::wl_display_get_error) getError = nullptr;
    decltype(&::wl_proxy_marshal_flags) marshalFlags = nullptr; // libwayland >= 1.20
    decltype(&::wl_proxy_add_listener) addListener = nullptr;
    decltype(&::wl_proxy_destroy) destroy = nullptr;
    decltype(&::wl_proxy_get_version) version = nullptr;
    const wl_interface* registryInterface = nullptr;
    const wl_interface* outputInterface = nullptr;
    const wl_interface* callbackInterface = nullptr;
};

template <typename F> bool bind(void* lib, const char* name, F& out) {
    out = reinterpret_cast<F>(::dlsym(lib, name));
    return out != nullptr;
}

WlApi loadApi() {
    WlApi api;
    void* lib = ::dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        KVR_LOG_DEBUG("display: libwayland-client not available (%s)", ::dlerror());
        return api;
    }
    const bool all = bind(lib, "wl_display_connect_to_fd", api.connectToFd) &&
                     bind(lib, "wl_display_disconnect", api.disconnect) &&
                     bind(lib, "wl_display_get_fd", api.getFd) &&
                     bind(lib, "wl_display_flush", api.flush) &&
                     bind(lib, "wl_display_prepare_read", api.prepareRead) &&
                     bind(lib, "wl_display_read_events", api.readEvents) &&
                     bind(lib, "wl_display_cancel_read", api.cancelRead) &&
                     bind(lib, "wl_display_dispatch_pending", api.dispatchPending) &&
                     bind(lib, "wl_display_get_error", api.getError) &&
                     bind(lib, "wl_proxy_marshal_flags", api.marshalFlags) &&
                     bind(lib, "wl_proxy_add_listener", api.addListener) &&
                     bind(lib, "wl_proxy_destroy", api.destroy) &&
                     bind(lib, "wl_proxy_get_version", api.version) &&
                     bind(lib, "wl_registry_interface", api.registryInterface) &&
                     bind(lib, "wl_output_interface", api.outputInterface) &&
                     bind(lib, "wl_callback_interface", api.callbackInterface);
    if (!all) {
        KVR_LOG_DEBUG("display: libwayland-client lacks an expected function (older than 1.20)");
        return WlApi{};
    }
    g_xdgTypes[2] = &kXdgOutputInterface;
    g_xdgTypes[3] = api.outputInterface;
    api.ok = true;
    return api;
}

const WlApi& api() {
    static std::once_flag once;
    static WlApi instance;
    std::call_once(once, [] { instance = loadApi(); });
    return instance;
}

// The compositor's socket: WAYLAND_DISPLAY as a path, or as a name in XDG_RUNTIME_DIR.
// Connected here rather than by wl_display_connect, which would take a WAYLAND_SOCKET meant
// for the program's own toolkit.
UniqueFd connectSocket() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') return {};
    std::string path = name;
    if (path.front() != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime == nullptr || *runtime == '\0') return {};
        path = std::string(runtime) + "/" + path;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return {};
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return {};
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        KVR_LOG_DEBUG("display: no Wayland compositor answers on %s", path.c_str());
        return {};
    }
    return fd;
}

struct Output {
    wl_proxy* output = nullptr;
    uint32_t version = 0;
    wl_proxy* xdgOutput = nullptr;
    OutputReport report;
};

// One query: the connection and every object made on it, released in the right order.
class Session {
public:
    Session(const WlApi& api, wl_display* display) : api_(api), display_(display) {}
    ~Session() {
        for (auto& o : outputs_) {
            if (o->xdgOutput != nullptr)
                api_.marshalFlags(o->xdgOutput, kXdgOutputDestroy, nullptr,
                                  api_.version(o->xdgOutput), WL_MARSHAL_FLAG_DESTROY);
            if (o->version >= WL_OUTPUT_RELEASE_SINCE_VERSION)
                api_.marshalFlags(o->output, WL_OUTPUT_RELEASE, nullptr, o->version,
                                  WL_MARSHAL_FLAG_DESTROY);
            else
                api_.destroy(o->output);
        }
        if (manager_ != nullptr)
            api_.marshalFlags(manager_, kXdgManagerDestroy, nullptr, api_.version(manager_),
                              WL_MARSHAL_FLAG_DESTROY);
        if (registry_ != nullptr) api_.destroy(registry_);
        api_.flush(display_);
        api_.disconnect(display_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::optional<std::vector<OutputReport>> query() {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        auto* display = reinterpret_cast<wl_proxy*>(display_);
        registry_ = api_.marshalFlags(display, WL_DISPLAY_GET_REGISTRY, api_.registryInterface,
                                      api_.version(display), 0, nullptr);
        if (registry_ == nullptr) return std::nullopt;
        listen(registry_, &kRegistryListener, this);
        if (!roundtrip(deadline)) return std::nullopt;
        if (manager_ != nullptr) {
            for (auto& o : outputs_) {
                o->xdgOutput =
                    api_.marshalFlags(manager_, kXdgManagerGetOutput, &kXdgOutputInterface,
                                      api_.version(manager_), 0, nullptr, o->output);
                if (o->xdgOutput != nullptr) listen(o->xdgOutput, &kXdgOutputListener, o.get());
            }
        }
        if (!roundtrip(deadline)) return std::nullopt;
        std::vector<OutputReport> reports;
        for (const auto& o : outputs_)
            reports.push_back(o->report);
        return reports;
    }

private:
    // Sends a sync request and reads events until its answer, or until the deadline.
    bool roundtrip(std::chrono::steady_clock::time_point deadline) {
        bool done = false;
        auto* display = reinterpret_cast<wl_proxy*>(display_);
        wl_proxy* callback = api_.marshalFlags(display, WL_DISPLAY_SYNC, api_.callbackInterface,
                                               api_.version(display), 0, nullptr);
        if (callback == nullptr) return false;
        listen(callback, &kCallbackListener, &done);
        bool failed = false;
        while (!done && !failed) {
            if (api_.dispatchPending(display_) < 0) break;
            if (done) break;
            if (api_.prepareRead(display_) != 0) continue; // events queued meanwhile
            const bool sent = api_.flush(display_) >= 0 || errno == EAGAIN;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{api_.getFd(display_), POLLIN, 0};
            const int ready =
                sent && left.count() > 0 ? ::poll(&pfd, 1, static_cast<int>(left.count())) : 0;
            if (ready > 0) {
                failed = api_.readEvents(display_) < 0;
            } else {
                api_.cancelRead(display_);
                failed = !(ready < 0 && errno == EINTR);
            }
        }
        api_.destroy(callback);
        if (!done) {
            KVR_LOG_DEBUG("display: the Wayland compositor did not answer (error %d)",
                          api_.getError(display_));
        }
        return done;
    }

    void onGlobal(uint32_t name, const char* interface, uint32_t version) {
        const std::string_view kind(interface);
        if (kind == "wl_output") {
            auto o = std::make_unique<Output>();
            o->version = std::min(
                {version, kOutputVersion, static_cast<uint32_t>(api_.outputInterface->version)});
            o->output = bindGlobal(name, api_.outputInterface, o->version);
            if (o->output == nullptr) return;
            listen(o->output, &kOutputListener, o.get());
            outputs_.push_back(std::move(o));
        } else if (kind == "zxdg_output_manager_v1" && manager_ == nullptr) {
            manager_ = bindGlobal(name, &kXdgOutputManagerInterface,
                                  std::min(version, kXdgOutputManagerVersion));
        }
    }

    wl_proxy* bindGlobal(uint32_t name, const wl_interface* interface, uint32_t version) {
        return api_.marshalFlags(registry_, WL_REGISTRY_BIND, interface, version, 0, name,
                                 interface->name, version, nullptr);
    }

    // Event handlers (the listeners below hold them).
    static void global(void* self, wl_registry*, uint32_t name, const char* interface,
                       uint32_t version) {
        static_cast<Session*>(self)->onGlobal(name, interface, version);
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {} // asked again next time
    static void syncDone(void* done, wl_callback*, uint32_t) { *static_cast<bool*>(done) = true; }
    static void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t,
                               int32_t, const char*, const char*, int32_t transform) {
        OutputReport& r = static_cast<Output*>(data)->report;
        r.x = x;
        r.y = y;
        r.transform = transform;
    }
    static void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                           int32_t) {
        if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
        OutputReport& r = static_cast<Output*>(data)->report;
        r.modeWidthPx = width;
        r.modeHeightPx = height;
    }
    static void outputScale(void* data, wl_output*, int32_t factor) {
        static_cast<Output*>(data)->report.scale = factor;
    }
    static void outputName(void* data, wl_output*, const char* name) {
        static_cast<Output*>(data)->report.outputName = name != nullptr ? name : "";
    }
    static void logicalPosition(void* data, wl_proxy*, int32_t x, int32_t y) {
        OutputReport& r = static_cast<Output*>(data)->report;
        r.haveLogicalPosition = true;
        r.logicalX = x;
        r.logicalY = y;
    }
    static void logicalSize(void* data, wl_proxy*, int32_t width, int32_t height) {
        OutputReport& r = static_cast<Output*>(data)->report;
        r.haveLogicalSize = true;
        r.logicalWidth = width;
        r.logicalHeight = height;
    }
    static void xdgName(void* data, wl_proxy*, const char* name) {
        static_cast<Output*>(data)->report.xdgName = name != nullptr ? name : "";
    }
    template <typename... A> static void ignore(void*, A...) {}

    static const wl_registry_listener kRegistryListener;
    static const wl_callback_listener kCallbackListener;
    static const wl_output_listener kOutputListener;
    static const XdgOutputListener kXdgOutputListener;

    void listen(wl_proxy* proxy, const void* listener, void* data) {
        api_.addListener(proxy, reinterpret_cast<void (**)()>(const_cast<void*>(listener)), data);
    }

    const WlApi& api_;
    wl_display* display_;
    wl_proxy* registry_ = nullptr;
    wl_proxy* manager_ = nullptr;
    std::vector<std::unique_ptr<Output>> outputs_; // listeners hold their addresses
};

const wl_registry_listener Session::kRegistryListener = {&Session::global, &Session::globalRemove};
const wl_callback_listener Session::kCallbackListener = {&Session::syncDone};
const wl_output_listener Session::kOutputListener = {
    &Session::outputGeometry, &Session::outputMode, &Session::ignore<wl_output*>,
    &Session::outputScale,    &Session::outputName, &Session::ignore<wl_output*, const char*>};
const XdgOutputListener Session::kXdgOutputListener = {
    &Session::logicalPosition, &Session::logicalSize, &Session::ignore<wl_proxy*>,
    &Session::xdgName, &Session::ignore<wl_proxy*, const char*>};

} // namespace

WaylandInfo queryWayland() {
    WaylandInfo info;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') return info;
    const WlApi& wl = api();
    if (!wl.ok) return info;
    UniqueFd fd = connectSocket();
    if (!fd) return info;
    // The display owns the descriptor from here on, also when it fails.
    wl_display* display = wl.connectToFd(fd.release());
    if (display == nullptr) return info;
    Session session(wl, display);
    const auto reports = session.query();
    if (!reports) return info;
    info.compositorAnswered = true;
    info.outputs = displaysFromOutputs(*reports);
    return info;
}

} // namespace kvr::display::detail
