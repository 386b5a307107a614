// calibration_bench: how fast cal3pt shows its first target, and how long the window's event
// loop stalls while a capture runs (not pass/fail; run it by hand from build/bench).
//
//   first target: cal3pt is started on a private Xvfb screen against the real daemon and an
//   emulated controller; the time runs from the spawn until the screen's pixels show the red
//   target (XGetImage polled every millisecond). Several runs; min, median, max.
//
//   stalls: cal3pt's and linear's windows in this process (offscreen) with the library worker,
//   touched through the emulator; the longest gaps between two turns of the event loop while
//   capturing, after the last target (linear: "Z", the "R" reset with its waits, the report
//   mode back) and during the save (linear: the table written into the controller), beside
//   the same figures for an idle event loop on this machine.
//
// Built on the test support (private state folders, daemon, emulator, Xvfb), so it is a
// gtest program whose cases print their figures.

#include "calibration/programs.h"
#include "gui/library_worker.h"
#include "tests/bench/support/gui_stalls.h"

// Qt's test header before Xlib, whose macros (None, Bool) clash with its names.
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/qt_support.h"
#include "tests/support/test_env.h"
#include "tests/support/xvfb.h"
#ifdef KVR_BENCH_WESTON
#include "tests/e2e/sessions/weston_session.h"
#endif

#include <QTest>

// clang-format off
// gtest before Xlib: Xlib defines macros (None, Bool) that clash with gtest's names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdlib.h>
#include <thread>
#include <vector>

namespace kvr::calibration {
namespace {

using Clock = std::chrono::steady_clock;
using test::tsapi::Bench;
using test::tsapi::Sim;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// True when the screen shows a pure red pixel in the box around (x, y).
bool redNear(::Display* dpy, int x, int y) {
    constexpr int kHalf = 16;
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), x - kHalf, y - kHalf, 2 * kHalf,
                              2 * kHalf, AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    bool found = false;
    for (int py = 0; py < 2 * kHalf && !found; ++py)
        for (int px = 0; px < 2 * kHalf && !found; ++px)
            found = (XGetPixel(image, px, py) & 0xFFFFFF) == 0xFF0000;
    XDestroyImage(image);
    return found;
}

// cal3pt started seven times against the bench's controller: the times from the spawn until
// `shown`, sorted; each run ends ("destroy") and waits for `gone`.
std::vector<double> firstTargetTimes(const std::function<bool()>& shown,
                                     const std::function<bool()>& gone) {
    std::vector<double> times;
    for (int run = 0; run < 7; ++run) {
        const auto start = Clock::now();
        test::ChildProcess cal3pt(test::program("cal3pt"), {"RS232_DEVICE0"});
        EXPECT_TRUE(test::waitUntil(shown, std::chrono::seconds(10), std::chrono::milliseconds(1)));
        times.push_back(msSince(start));
        cal3pt.stop(); // the window closes and the report mode goes back
        EXPECT_TRUE(test::waitUntil(gone));
    }
    std::sort(times.begin(), times.end());
    return times;
}

void printTimes(const char* where, const std::vector<double>& times) {
    std::printf("cal3pt, process start to first target on screen (%s, %zu runs): "
                "min %.0f ms, median %.0f ms, max %.0f ms\n",
                where, times.size(), times.front(), times[times.size() / 2], times.back());
}

TEST(CalibrationProgramsBench, FirstTargetOnScreen) {
    test::XvfbServer x("1024x768x24");
    ASSERT_TRUE(x.ok()) << x.log();
    ::Display* dpy = XOpenDisplay(x.name().c_str());
    ASSERT_NE(dpy, nullptr);
    ::setenv("DISPLAY", x.name().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("KVR_DISPLAYS");
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_NE(bench.addSerial(0, 1, Sim::profile("nvlt3000-e")), nullptr);

    // Target 0 with the default base offsets (3968, 128): (1024 * 128) >> 12, (768 * 128) >> 12.
    constexpr int kTargetX = 32, kTargetY = 24;
    const auto times = firstTargetTimes([&] { return redNear(dpy, kTargetX, kTargetY); },
                                        [&] { return !redNear(dpy, kTargetX, kTargetY); });
    XCloseDisplay(dpy);
    printTimes("bare Xvfb", times);
}

#ifdef KVR_BENCH_WESTON
// The same under weston (two outputs, nested in Xvfb): as a native Wayland client and through
// XWayland. The target's white disc on output 1 tells it is there.
TEST(CalibrationProgramsBench, FirstTargetOnScreenUnderWeston) {
    test::WestonSession session;
    ASSERT_TRUE(session.ok()) << session.diagnostics();
    ::unsetenv("KVR_DISPLAYS");
    Bench bench;
    ASSERT_NE(bench.addSerial(0, 1, Sim::profile("nvlt3000-e")), nullptr) << bench.diagnostics();
    const auto disc = [&] { return session.pixel(32, 24) == 0xFFFFFF; };
    session.becomeClient(false);
    printTimes("weston, native Wayland", firstTargetTimes(disc, [&] { return !disc(); }));
    session.becomeClient(true);
    printTimes("weston, XWayland", firstTargetTimes(disc, [&] { return !disc(); }));
}
#endif

// The window in this process with the program's library worker (the test support's main makes
// one): the event loop's stalls while the targets are captured up to the save prompt (with the
// step after the last target, linear: "Z", the "R" reset, the report mode back), and while
// the save tap is carried out (linear: the table written into the controller, 19 exchanges).
template <class Session, class MakeSetup>
void measureStalls(const char* program, const char* arguments, MakeSetup makeSetup,
                   MessageTable messages, const std::vector<std::string>& taps) {
    ::setenv("KVR_DISPLAYS", "DISPLAY1:0,0,1024,768", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1, Sim::profile("nvlt3000-e"));
    ASSERT_NE(sim, nullptr);
    auto opened = gui::libraryCall([&] { return Session::open(arguments); });
    ASSERT_TRUE(opened.session) << opened.exitCode;
    CalibrationWindow window(makeSetup(*opened.session, messages));

    bench::StallMeter capturing, saving;
    const auto start = Clock::now();
    // The window's first show and paint (some 20 ms of drawing on a loaded machine) are not
    // the library's work: measured from the first ticks on.
    window.start();
    test::pumpGui(std::chrono::milliseconds(300));
    capturing.start();
    std::atomic<std::size_t> target{0};
    QTimer follow; // the finger waits for the window to move on
    QObject::connect(&follow, &QTimer::timeout, [&] { target = window.currentTarget(); });
    follow.start(5);
    std::thread finger([&] {
        for (std::size_t k = 0; k < taps.size(); ++k) {
            sim->play({taps[k]});
            test::waitUntil([&] { return target > k; });
        }
    });
    ASSERT_TRUE(
        test::waitForGui([&] { return window.screen() == CalibrationWindow::Screen::SavePrompt; }));
    capturing.stop();
    capturing.print(program, "capturing the targets, up to the save prompt", msSince(start));
    finger.join();
    const auto phase = Clock::now();
    saving.start();
    QTest::mouseClick(&window, Qt::LeftButton, {}, window.rect().center());
    test::waitForGui([&] { return !window.isVisible(); }, std::chrono::seconds(60));
    saving.stop();
    saving.print(program, "the save tap (stored, window closed)", msSince(phase));
    gui::libraryCall([session = std::move(opened.session)]() mutable { session.reset(); });
}

TEST(CalibrationProgramsBench, EventLoopStalls) {
    bench::measureIdleBaseline("calibration_bench", std::chrono::seconds(10));
    measureStalls<ThreePointSession>("cal3pt", "RS232_DEVICE0", threePointWindowSetup,
                                     threePointMessages(),
                                     {"tap 130 120 40", "tap 3950 3900 40", "tap 3940 140 40"});
    measureStalls<LinearitySession>("linear -5", "RS232_DEVICE0 -5", linearityWindowSetup,
                                    linearityMessages(),
                                    {"tap 2048 2048 70", "tap 3968 128 70", "tap 128 128 70",
                                     "tap 128 3968 70", "tap 3968 3968 70"});
}

} // namespace
} // namespace kvr::calibration
