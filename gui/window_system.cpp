#include "gui/window_system.h"

#include "platform/common/unique_fd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <initializer_list>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>

namespace kvr::gui {
namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// libxcb's entry points, bound at run time: the X check costs nothing on a machine without X,
// and it is the same connection Qt's xcb platform makes.
struct XcbApi {
    void* (*connect)(const char*, int*) = nullptr;
    int (*hasError)(void*) = nullptr;
    void (*disconnect)(void*) = nullptr;
    bool ok = false;
};

const XcbApi& xcb() {
    static std::once_flag once;
    static XcbApi api;
    std::call_once(once, [] {
        // Kept loaded: the library holds process-wide state once used.
        void* lib = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return;
        api.connect = reinterpret_cast<void* (*)(const char*, int*)>(::dlsym(lib, "xcb_connect"));
        api.hasError = reinterpret_cast<int (*)(void*)>(::dlsym(lib, "xcb_connection_has_error"));
        api.disconnect = reinterpret_cast<void (*)(void*)>(::dlsym(lib, "xcb_disconnect"));
        api.ok = api.connect && api.hasError && api.disconnect;
    });
    return api;
}

// The xcb_connection_has_error codes that name a cause a person can act on.
constexpr int kXcbConnError = 1;
constexpr int kXcbParseError = 5;
constexpr int kXcbInvalidScreen = 6;

std::optional<std::string> xProblem(const std::string& display) {
    if (display.empty()) return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
    const std::string which = "cannot open the display '" + display + "': ";
    const XcbApi& api = xcb();
    if (!api.ok) return which + "libxcb.so.1 cannot be loaded";
    int screen = 0;
    void* connection = api.connect(display.c_str(), &screen);
    const int error = connection != nullptr ? api.hasError(connection) : kXcbConnError;
    if (connection != nullptr) api.disconnect(connection);
    switch (error) {
    case 0:
        return std::nullopt;
    case kXcbParseError:
        return which + "not a display name";
    case kXcbInvalidScreen:
        return which + "the X server has no such screen";
    case kXcbConnError:
        return which + "no X server answers (or it refused this user)";
    default:
        return which + "the X server refused the connection (error " + std::to_string(error) + ")";
    }
}

std::optional<std::string> waylandProblem(const std::string& name) {
    // A compositor that handed this process its connection needs no socket.
    if (!env("WAYLAND_SOCKET").empty()) return std::nullopt;
    const std::string socketName = name.empty() ? std::string("wayland-0") : name;
    std::string path = socketName;
    if (!socketName.starts_with('/')) {
        const std::string runtime = env("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return "cannot open the Wayland display '" + socketName +
                   "': XDG_RUNTIME_DIR is not set";
        path = runtime + "/" + socketName;
    }
    const std::string which = "cannot open the Wayland display '" + path + "': ";
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return which + "the path is too long";
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return which + std::strerror(errno);
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return std::nullopt;
    if (errno == ENOENT || errno == ECONNREFUSED) return which + "no compositor listens there";
    return which + std::strerror(errno);
}

} // namespace

bool windowSystemAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

WindowSystemTarget windowSystemTarget(std::string_view platformArgument,
                                      std::string_view displayArgument) {
    WindowSystemTarget target;
    target.xDisplay = displayArgument.empty() ? env("DISPLAY") : std::string(displayArgument);
    target.waylandSocket = env("WAYLAND_DISPLAY");
    std::string list =
        platformArgument.empty() ? env("QT_QPA_PLATFORM") : std::string(platformArgument);
    if (list.empty()) {
        // Qt's own choice: the session's compositor when there is one, X otherwise (and as
        // the fall-back it tries next).
        if (!target.waylandSocket.empty()) target.platforms.emplace_back("wayland");
        target.platforms.emplace_back("xcb");
        return target;
    }
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t end = std::min(list.find(';', from), list.size());
        std::string entry = list.substr(from, end - from);
        entry = entry.substr(0, entry.find(':'));
        if (!entry.empty()) target.platforms.push_back(std::move(entry));
        from = end + 1;
    }
    return target;
}

std::optional<std::string> displayProblem(const WindowSystemTarget& target) {
    std::optional<std::string> first;
    for (const std::string& platform : target.platforms) {
        std::optional<std::string> problem;
        if (platform == "xcb")
            problem = xProblem(target.xDisplay);
        else if (platform.starts_with("wayland"))
            problem = waylandProblem(target.waylandSocket);
        // Any other platform (offscreen, minimal, eglfs...) is Qt's own business.
        if (!problem) return std::nullopt;
        if (!first) first = std::move(problem);
    }
    if (!first) return "no display: no window system platform is named";
    return first;
}

} // namespace kvr::gui
