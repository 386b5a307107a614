// The XTest sink against a real X server (Xvfb): the server's pointer must be at the pixel the
// sample maps to, and the buttons must be in the state the flags say.

#include "platform/pointer/pointer.h"
#include "tests/support/test_env.h"
#include "tests/support/xvfb.h"

// clang-format off
// gtest before Xlib: Xlib defines macros (None, Bool) that clash with gtest's names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
// clang-format on

#include <atomic>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdlib.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kvr::pointer {
namespace {

// The private X server and a client connection to it.
class Xvfb {
public:
    explicit Xvfb(const std::string& screen, const std::string& display = "")
        : server_(screen, display) {
        if (server_.ok()) dpy_ = XOpenDisplay(server_.name().c_str());
    }
    ~Xvfb() {
        if (dpy_ != nullptr) XCloseDisplay(dpy_);
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    bool ok() const { return dpy_ != nullptr; }
    const std::string& name() const { return server_.name(); }
    ::Display* dpy() const { return dpy_; }
    std::string log() const { return server_.log(); }
    bool pause() { return server_.signal(SIGSTOP); }
    bool resume() { return server_.signal(SIGCONT); }
    void stop() {
        if (dpy_ != nullptr) XCloseDisplay(dpy_);
        dpy_ = nullptr;
        server_.stop();
    }

    struct PointerState {
        int x = -1, y = -1;
        unsigned mask = 0;
        bool operator==(const PointerState&) const = default;
    };
    PointerState query() const {
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(dpy_, DefaultRootWindow(dpy_), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return {rx, ry, mask & (Button1Mask | Button3Mask)};
    }
    // The server handles the sink's requests and ours in its own order: wait for the state.
    bool waitFor(const PointerState& want, PointerState& last) const {
        return test::waitUntil([&] {
            last = query();
            return last == want;
        });
    }

private:
    test::XvfbServer server_;
    ::Display* dpy_ = nullptr;
};

std::ostream& operator<<(std::ostream& os, const Xvfb::PointerState& s) {
    return os << "(" << s.x << "," << s.y << " mask " << s.mask << ")";
}

#define REQUIRE_XVFB(server)                                                                       \
    if (!test::XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";                   \
    ASSERT_TRUE((server).ok()) << "Xvfb did not start: " << (server).log()

TEST(XTestSink, PointerLandsOnTheMappedPixel) {
    Xvfb x("1024x768x24");
    REQUIRE_XVFB(x);
    std::string error;
    auto sink = openXTestSink(error, x.name().c_str());
    ASSERT_NE(sink, nullptr) << error;
    EXPECT_STREQ(sink->kind(), "xtest");
    struct Case {
        int32_t pointerX, pointerY, px, py;
    } cases[] = {
        {0, 0, 0, 0},
        {65535, 65535, 1023, 767},
        {32768, 32768, 512, 384},
        {1000, 2000, 15, 23}, // 1000 * 1024 / 65536 = 15.6, 2000 * 768 / 65536 = 23.4
        {64, 86, 1, 1},
        {63, 85, 0, 0},
        {-100, 70000, 0, 767}, // beyond the only display: its edge
        {INT32_MAX, INT32_MIN, 1023, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.pointerX << "," << c.pointerY);
        sink->deliver(c.pointerX, c.pointerY, 0);
        Xvfb::PointerState last;
        EXPECT_TRUE(x.waitFor({c.px, c.py, 0}, last)) << last;
    }
}

TEST(XTestSink, ButtonFlagsPressAndRelease) {
    Xvfb x("1024x768x24");
    REQUIRE_XVFB(x);
    std::string error;
    auto sink = openXTestSink(error, x.name().c_str());
    ASSERT_NE(sink, nullptr) << error;
    struct Step {
        const char* what;
        int32_t pointerX, pointerY;
        uint16_t flags;
        Xvfb::PointerState want;
    } steps[] = {
        {"move", 6400, 6400, 0, {100, 75, 0}},
        {"left down", 6400, 6400, kLeftButtonDown, {100, 75, Button1Mask}},
        {"drag", 12800, 12800, 0, {200, 150, Button1Mask}},
        {"left up", 12800, 12800, kLeftButtonUp, {200, 150, 0}},
        {"right down", 19200, 19200, kRightButtonDown, {300, 225, Button3Mask}},
        {"right up", 19200, 19200, kRightButtonUp, {300, 225, 0}},
        {"click in one record", 25600, 25600, kLeftButtonDown | kLeftButtonUp, {400, 300, 0}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        sink->deliver(s.pointerX, s.pointerY, s.flags);
        Xvfb::PointerState last;
        EXPECT_TRUE(x.waitFor(s.want, last)) << last;
    }
}

// Two monitors side by side, the primary on the right: pointer units count from the root
// origin across the monitor there, as the touch library lays its display table out, so the
// monitor on the right starts at 65536 whichever of the two is primary.
TEST(XTestSink, PrimaryMonitorNotAtTheOrigin) {
    Xvfb x("2048x768x24");
    REQUIRE_XVFB(x);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(x.dpy(), &eventBase, &errorBase) ||
        !XRRQueryVersion(x.dpy(), &major, &minor) || major * 100 + minor < 105)
        GTEST_SKIP() << "this X server has no RandR 1.5 monitors";
    const Window root = DefaultRootWindow(x.dpy());
    XRRMonitorInfo left{}, right{};
    left.name = XInternAtom(x.dpy(), "LEFT", False);
    left.x = 0;
    left.width = 1024;
    left.height = 768;
    left.mwidth = 300;
    left.mheight = 200;
    right = left;
    right.name = XInternAtom(x.dpy(), "RIGHT", False);
    right.x = 1024;
    right.primary = True;
    XRRSetMonitor(x.dpy(), root, &left);
    XRRSetMonitor(x.dpy(), root, &right);
    XSync(x.dpy(), False);
    int count = 0;
    XRRMonitorInfo* mons = XRRGetMonitors(x.dpy(), root, True, &count);
    bool primarySet = false;
    for (int i = 0; i < count; ++i)
        primarySet |= mons[i].primary && mons[i].x == 1024;
    XRRFreeMonitors(mons);
    if (!primarySet) GTEST_SKIP() << "this X server does not keep set monitors";

    std::string error;
    auto sink = openXTestSink(error, x.name().c_str());
    ASSERT_NE(sink, nullptr) << error;
    struct Case {
        int32_t pointerX, pointerY, px, py;
    } cases[] = {
        {0, 0, 0, 0},        {65535, 65535, 1023, 767},
        {65536, 0, 1024, 0}, {65536 + 32768, 32768, 1536, 384},
        {-1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.pointerX << "," << c.pointerY);
        sink->deliver(c.pointerX, c.pointerY, 0);
        Xvfb::PointerState last;
        EXPECT_TRUE(x.waitFor({c.px, c.py, 0}, last)) << last;
    }
}

TEST(XTestSink, ServerGoneDropsSamplesAndTheProcessLives) {
    Xvfb x("640x480x24");
    REQUIRE_XVFB(x);
    std::string error;
    auto sink = openXTestSink(error, x.name().c_str());
    ASSERT_NE(sink, nullptr) << error;
    sink->deliver(100, 100, kLeftButtonDown);
    x.stop();
    // Several threads keep delivering after the server went away.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                sink->deliver(i * 100, i * 100, i % 2 ? kLeftButtonUp : 0);
        });
    for (auto& t : threads)
        t.join();
    sink.reset();
    SUCCEED();
}

// The session ends and an X server comes back on the same display: the sink goes on with it
// by itself. A server that stops answering never holds up deliver().
// A server that is started again on its display must find the number free: servers of tests
// running beside this one take the lowest free numbers, so this one lives far above them.
std::unique_ptr<Xvfb> serverAboveTheOthers(const char* screen) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int number = 500 + static_cast<int>((::getpid() * 31 + attempt * 97) % 4000);
        if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) continue;
        auto x = std::make_unique<Xvfb>(screen, ":" + std::to_string(number));
        if (x->ok()) return x;
    }
    return std::make_unique<Xvfb>(screen);
}

TEST(XTestSink, ServerThatComesBackIsUsedAndAHungOneNeverBlocks) {
    auto x = serverAboveTheOthers("640x480x24");
    REQUIRE_XVFB(*x);
    const std::string name = x->name();
    std::string error;
    auto sink = openXTestSink(error, name.c_str());
    ASSERT_NE(sink, nullptr) << error;
    x.reset();
    sink->deliver(100, 100, kLeftButtonDown); // lost with the server
    x = std::make_unique<Xvfb>("800x600x24", name);
    REQUIRE_XVFB(*x);
    const auto movesTo = [&](int32_t pointer, Xvfb::PointerState want) {
        return test::waitUntil([&] {
            sink->deliver(pointer, pointer, 0); // until the sender has the server again
            return x->query() == want;
        });
    };
    EXPECT_TRUE(movesTo(32768, {400, 300, 0}));
    ASSERT_TRUE(x->pause());
    std::atomic<int> delivered{0};
    std::thread readLoop([&] {
        for (int i = 0; i < 20000; ++i, ++delivered)
            sink->deliver(i, i, i % 2 ? kLeftButtonUp : kLeftButtonDown);
    });
    EXPECT_TRUE(test::waitUntil([&] { return delivered == 20000; })) << delivered;
    readLoop.join();
    ASSERT_TRUE(x->resume());
    EXPECT_TRUE(movesTo(16384, {200, 150, 0}));
    ASSERT_TRUE(x->pause()); // and the sink closes while the server hangs
    for (int i = 0; i < 20000; ++i)
        sink->deliver(i, i, 0);
    std::atomic<bool> closed{false};
    std::thread closing([&] { sink.reset(), closed = true; });
    EXPECT_TRUE(test::waitUntil([&] { return closed.load(); }));
    closing.join();
    x->resume();
}

TEST(XTestSink, AutoPicksXTestWhenThereIsNoUinput) {
    if (::access("/dev/uinput", W_OK) == 0) GTEST_SKIP() << "this machine has /dev/uinput";
    Xvfb x("800x600x24");
    REQUIRE_XVFB(x);
    ::setenv("DISPLAY", x.name().c_str(), 1);
    std::string error;
    auto sink = openSink("auto", "", error);
    ASSERT_NE(sink, nullptr) << error;
    EXPECT_STREQ(sink->kind(), "xtest");
    sink->deliver(65535, 0, 0);
    Xvfb::PointerState last;
    EXPECT_TRUE(x.waitFor({799, 0, 0}, last)) << last;
}

} // namespace
} // namespace kvr::pointer
