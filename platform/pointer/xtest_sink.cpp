// The XTest sink: fake pointer motion and button events on an X server. libX11, libXtst and
// (optionally) libXrandr are bound at run time, so the daemon runs on machines without X.
//
// The read loops never talk to the X server themselves: deliver() queues the sample and one
// sender thread owns the connection. A server that stops reading, or a session that ends,
// costs samples, never a stalled read loop. When the server goes away (the session ends, X is
// restarted) the sender waits for a server on the same display and goes on with it, without
// a restart of the daemon.

#include "platform/common/log.h"
#include "platform/common/unique_fd.h"
#include "platform/pointer/pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <dlfcn.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <utility>
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
    decltype(&::XPending) pending = nullptr;
    decltype(&::XNextEvent) nextEvent = nullptr;
    decltype(&::XConnectionNumber) connectionNumber = nullptr;
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
    decltype(&::XRRGetMonitors) getMonitors = nullptr; // optional: monitor geometry
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

// Returning lets Xlib go on to the connection's exit handler (Connection::onLost), which
// marks the connection lost instead of ending the process.
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
                         bind(x11, "XFlush", api.flush) && bind(x11, "XPending", api.pending) &&
                         bind(x11, "XNextEvent", api.nextEvent) &&
                         bind(x11, "XConnectionNumber", api.connectionNumber) &&
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
        // The sender thread and any other Xlib user of the process may run at once (libX11
        // 1.8 does this by itself; older ones need it before the first connection).
        if (auto initThreads = reinterpret_cast<Status (*)()>(::dlsym(x11, "XInitThreads")))
            initThreads();
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

// How often the monitor geometry is asked again while samples flow (monitors come and go;
// one round trip a second costs nothing).
constexpr auto kGeometryRefresh = std::chrono::seconds(1);
// While no server answers: how often the sender tries again (and at most how often samples
// that arrive meanwhile make it try).
constexpr auto kReconnectInterval = std::chrono::seconds(2);
constexpr auto kReconnectSpacing = std::chrono::milliseconds(250);
// Samples waiting for the sender. A server that stops reading fills this; moves are then
// merged into the newest one, so the last position and every button change survive as long
// as there is room.
constexpr std::size_t kQueueCapacity = 512;

// Button state as a bit set: bit 0 left, bit 1 right.
constexpr uint8_t kLeftHeld = 0x1, kRightHeld = 0x2;

struct Sample {
    int32_t pointerX = 0, pointerY = 0;
    uint16_t buttonFlags = 0;
    uint8_t heldAfter = 0; // the buttons held once this sample is sent
};

// The buttons held after a record with these flags (presses before releases, as sent).
uint8_t heldAfter(uint16_t flags, uint8_t held) {
    if ((flags & kLeftButtonDown) != 0) held |= kLeftHeld;
    if ((flags & kRightButtonDown) != 0) held |= kRightHeld;
    if ((flags & kLeftButtonUp) != 0) held &= static_cast<uint8_t>(~kLeftHeld);
    if ((flags & kRightButtonUp) != 0) held &= static_cast<uint8_t>(~kRightHeld);
    return held;
}

// The flags that take the buttons from one state to another.
uint16_t flagsBetween(uint8_t before, uint8_t after) {
    uint16_t flags = 0;
    const uint8_t pressed = after & ~before, released = before & ~after;
    if ((pressed & kLeftHeld) != 0) flags |= kLeftButtonDown;
    if ((pressed & kRightHeld) != 0) flags |= kRightButtonDown;
    if ((released & kLeftHeld) != 0) flags |= kLeftButtonUp;
    if ((released & kRightHeld) != 0) flags |= kRightButtonUp;
    return flags;
}

// Opens the display, checks for XTEST and registers it as ours; nullptr with a reason.
::Display* openServer(const XApi& api, const std::string& name, std::string& error) {
    ::Display* dpy = api.openDisplay(name.empty() ? nullptr : name.c_str());
    if (dpy == nullptr) {
        error = "cannot open X display " + (name.empty() ? std::string("(DISPLAY not set)") : name);
        return nullptr;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!api.testQueryExtension(dpy, &eventBase, &errorBase, &major, &minor)) {
        api.closeDisplay(dpy);
        error = "the X server has no XTEST extension";
        return nullptr;
    }
    std::lock_guard lock(g_displaysMutex);
    g_displays.push_back(dpy);
    return dpy;
}

// One connection to the server, used by the sender thread only.
class Connection {
public:
    Connection(const XApi& api, ::Display* dpy) : api_(api), dpy_(dpy) {
        screen_ = api_.defaultScreen(dpy_);
        if (api_.setIOErrorExitHandler != nullptr) {
            // When the server goes away, Xlib would end the process; instead the connection
            // is marked lost and the sender lets it go.
            api_.setIOErrorExitHandler(dpy_, &Connection::onLost, this);
        } else {
            KVR_LOG_WARN("pointer: this libX11 ends the process when the X server goes away");
        }
        refreshGeometry();
    }
    ~Connection() {
        // Also after the server went away (or the socket was shut): with the exit handler
        // returning, Xlib marks the connection dead and closing it only frees it. The display
        // stays ours until then, so that an IO error while closing comes to our handlers.
        api_.closeDisplay(dpy_);
        std::lock_guard lock(g_displaysMutex);
        // One entry: a display opened meanwhile may have been given the same address.
        if (auto at = std::find(g_displays.begin(), g_displays.end(), dpy_); at != g_displays.end())
            g_displays.erase(at);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] bool lost() const { return lost_; }
    [[nodiscard]] int fd() const { return api_.connectionNumber(dpy_); }

    // Sends what is buffered and reads what the server sent: nothing is asked for, so only
    // errors, the few events every client gets (dropped here) or the end of the connection,
    // which is so noticed without a sample.
    void exchange() {
        while (!lost_ && api_.pending(dpy_) > 0) {
            XEvent event;
            api_.nextEvent(dpy_, &event);
        }
    }

    void send(const Sample& s) {
        if (lost_) return;
        if (std::chrono::steady_clock::now() - geometryTime_ >= kGeometryRefresh) refreshGeometry();
        if (lost_) return;
        int32_t px = pointerToPixel(s.pointerX, 0, reference_.widthPx);
        int32_t py = pointerToPixel(s.pointerY, 0, reference_.heightPx);
        // The X server keeps the pointer on its screen anyway; clamping here keeps the request
        // values in range of the protocol's 16-bit coordinates.
        px = std::clamp(px, 0, screenWidth_ - 1);
        py = std::clamp(py, 0, screenHeight_ - 1);
        api_.fakeMotion(dpy_, screen_, px, py, CurrentTime);
        // Presses before releases: a record carrying both is a click.
        const uint16_t f = s.buttonFlags;
        if ((f & kLeftButtonDown) != 0) api_.fakeButton(dpy_, Button1, True, CurrentTime);
        if ((f & kRightButtonDown) != 0) api_.fakeButton(dpy_, Button3, True, CurrentTime);
        if ((f & kLeftButtonUp) != 0) api_.fakeButton(dpy_, Button1, False, CurrentTime);
        if ((f & kRightButtonUp) != 0) api_.fakeButton(dpy_, Button3, False, CurrentTime);
    }

private:
    static void onLost(::Display*, void* self) { static_cast<Connection*>(self)->lost_ = true; }

    void refreshGeometry() {
        geometryTime_ = std::chrono::steady_clock::now();
        screenWidth_ = std::max(1, api_.displayWidth(dpy_, screen_));
        screenHeight_ = std::max(1, api_.displayHeight(dpy_, screen_));
        std::vector<MonitorBox> monitors;
        if (api_.getMonitors != nullptr) {
            int count = 0;
            XRRMonitorInfo* info =
                api_.getMonitors(dpy_, api_.rootWindow(dpy_, screen_), True, &count);
            for (int i = 0; info != nullptr && i < count; ++i)
                monitors.push_back(
                    {info[i].x, info[i].y, info[i].width, info[i].height, info[i].primary != 0});
            if (info != nullptr) api_.freeMonitors(info);
        }
        reference_ = pointerSpanOnScreen(monitors, screenWidth_, screenHeight_);
    }

    const XApi& api_;
    ::Display* dpy_;
    bool lost_ = false; // set inside an Xlib call of the sender thread
    int screen_ = 0;
    int32_t screenWidth_ = 1, screenHeight_ = 1;
    PointerSpan reference_;
    std::chrono::steady_clock::time_point geometryTime_{};
};

class XTestSink final : public Sink {
public:
    XTestSink(const XApi& api, std::string displayName, ::Display* first, UniqueFd wake)
        : api_(api), displayName_(std::move(displayName)), wake_(std::move(wake)) {
        if (first != nullptr) useConnection(std::make_unique<Connection>(api_, first));
        sender_ = std::thread([this] { run(); });
    }
    ~XTestSink() override {
        stop_.store(true);
        signal();
        {
            // A sender stuck writing to a server that stopped reading gets its write failed.
            std::lock_guard lock(connectionMutex_);
            if (connection_) ::shutdown(connection_->fd(), SHUT_RDWR);
        }
        if (sender_.joinable()) sender_.join();
    }
    XTestSink(const XTestSink&) = delete;
    XTestSink& operator=(const XTestSink&) = delete;

    void deliver(int32_t pointerX, int32_t pointerY, uint16_t buttonFlags) override {
        bool wasEmpty = false;
        {
            std::lock_guard lock(queueMutex_);
            wasEmpty = queue_.empty();
            const uint8_t before = queue_.empty() ? sentHeld_ : queue_.back().heldAfter;
            if (queue_.size() < kQueueCapacity) {
                queue_.push_back({pointerX, pointerY, buttonFlags, heldAfter(buttonFlags, before)});
            } else {
                // Full: the newest sample is folded into the last one. Clicks in between are
                // lost, but the pointer ends where the touch is and the buttons end as the
                // touch left them: a release is never lost.
                mergeIntoNewest({pointerX, pointerY, buttonFlags, heldAfter(buttonFlags, before)});
            }
        }
        if (wasEmpty) signal();
    }
    const char* kind() const override { return "xtest"; }

private:
    void signal() {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
    }
    void drainWake() {
        uint64_t count = 0;
        [[maybe_unused]] auto n = ::read(wake_.get(), &count, sizeof count);
    }

    // queueMutex_ held.
    void mergeIntoNewest(const Sample& newest) {
        Sample& last = queue_.back();
        const uint8_t heldBefore = queue_.size() >= 2 ? queue_[queue_.size() - 2].heldAfter
                                                      : sentHeld_;
        last = {newest.pointerX, newest.pointerY, flagsBetween(heldBefore, newest.heldAfter),
                newest.heldAfter};
        if (!overflowSaid_) {
            overflowSaid_ = true;
            KVR_LOG_WARN("pointer: the X server does not take pointer events in time; samples "
                         "are merged");
        }
    }

    // `freshServer`: a server just connected holds no button, whatever the last one did.
    std::deque<Sample> takeQueue(bool freshServer = false) {
        std::lock_guard lock(queueMutex_);
        std::deque<Sample> taken;
        taken.swap(queue_);
        overflowSaid_ = false;
        if (freshServer)
            sentHeld_ = 0;
        else if (!taken.empty())
            sentHeld_ = taken.back().heldAfter;
        return taken;
    }

    void run() {
        // Writing to a server that went away raises SIGPIPE; this thread never wants it.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        while (!stop_.load()) {
            if (connection_)
                serve();
            else
                waitForServer();
        }
        // What was sent is flushed (serve() ends with an exchange). Closing a connection asks
        // the server for a last round trip; one that stopped reading would never answer, so
        // the socket is shut first and closing only frees.
        {
            std::lock_guard lock(connectionMutex_);
            if (connection_) ::shutdown(connection_->fd(), SHUT_RDWR);
        }
        useConnection(nullptr);
    }

    // The connection is replaced under connectionMutex_, so that the destructor never shuts
    // down a descriptor that is being closed; the old one is closed after the lock is left,
    // so that a close that waits on the server never keeps the destructor from shutting the
    // socket down.
    void useConnection(std::unique_ptr<Connection> connection) {
        std::unique_ptr<Connection> old;
        {
            std::lock_guard lock(connectionMutex_);
            old = std::exchange(connection_, std::move(connection));
        }
    }

    // Sends what is queued until the connection ends or the sink closes.
    void serve() {
        pollfd fds[2] = {{wake_.get(), POLLIN, 0}, {connection_->fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if ((fds[0].revents & POLLIN) != 0) {
            drainWake();
            for (const Sample& s : takeQueue())
                connection_->send(s);
        }
        connection_->exchange();
        if (connection_->lost()) {
            useConnection(nullptr);
            KVR_LOG_ERROR("pointer: lost the X server %s; pointer samples are dropped until it "
                          "is back",
                          displayName_.c_str());
        }
    }

    // Tries the display now and then (and when samples arrive) until a server answers.
    void waitForServer() {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastAttempt_ >= kReconnectSpacing) {
            lastAttempt_ = now;
            std::string why;
            if (::Display* dpy = openServer(api_, displayName_, why)) {
                useConnection(std::make_unique<Connection>(api_, dpy));
                KVR_LOG_INFO("pointer: XTest on display %s again", displayName_.c_str());
                takeQueue(true); // what arrived before the server: stale positions
                return;
            }
        }
        pollfd fd{wake_.get(), POLLIN, 0};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(kReconnectInterval - (std::chrono::steady_clock::now() - lastAttempt_),
                     std::chrono::steady_clock::duration(kReconnectSpacing)));
        if (::poll(&fd, 1, static_cast<int>(wait.count())) > 0) drainWake();
        takeQueue(true);
    }

    const XApi& api_;
    const std::string displayName_;
    UniqueFd wake_;
    std::atomic<bool> stop_{false};
    std::mutex queueMutex_;
    std::deque<Sample> queue_;               // queueMutex_
    bool overflowSaid_ = false;              // queueMutex_
    uint8_t sentHeld_ = 0;                   // queueMutex_: buttons held once taken samples are sent
    std::mutex connectionMutex_;
    std::unique_ptr<Connection> connection_; // used by the sender thread only
    std::chrono::steady_clock::time_point lastAttempt_{};
    std::thread sender_;
};

} // namespace

PointerSpan pointerSpanOnScreen(const std::vector<MonitorBox>& monitors, int32_t screenWidthPx,
                                int32_t screenHeightPx) {
    const MonitorBox* chosen = nullptr;
    for (const MonitorBox& m : monitors) {
        if (m.widthPx <= 0 || m.heightPx <= 0) continue;
        if (m.leftPx == 0 && m.topPx == 0) return {m.widthPx, m.heightPx};
        if (chosen == nullptr || (m.primary && !chosen->primary)) chosen = &m;
    }
    if (chosen != nullptr) return {chosen->widthPx, chosen->heightPx};
    return {std::max(1, screenWidthPx), std::max(1, screenHeightPx)};
}

std::unique_ptr<Sink> openXTestSink(std::string& error, const char* displayName, XTestStart start) {
    error.clear();
    const XApi& api = xapi();
    if (!api.ok) {
        error = api.error;
        return nullptr;
    }
    // The name is kept: after the server goes away the sink waits for one on that display.
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once at open, as Xlib itself does.
    const char* env = displayName != nullptr ? displayName : std::getenv("DISPLAY");
    const std::string name = env != nullptr ? env : "";
    if (name.empty() && start == XTestStart::WhenServerComes) {
        error = "DISPLAY not set";
        return nullptr;
    }
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) {
        error = "no eventfd for the XTest sender";
        return nullptr;
    }
    ::Display* dpy = openServer(api, name, error);
    if (dpy == nullptr && start == XTestStart::ServerNow) return nullptr;
    if (dpy != nullptr) {
        error.clear();
        KVR_LOG_INFO("pointer: XTest on display %s", name.c_str());
    } else {
        KVR_LOG_INFO("pointer: no X server on %s yet (%s); XTest starts when one answers",
                     name.c_str(), error.c_str());
        error.clear();
    }
    return std::make_unique<XTestSink>(api, name, dpy, std::move(wake));
}

} // namespace kvr::pointer
