// panel_bench: how fast tactivo shows its window, and how long its event loop can stall.
//
//  1. Start to window: the real tactivo under a private Xvfb, with the driver daemon and an
//     emulated controller; the time from spawning it to its top-level window being viewable
//     on the X server (the controller reads follow the window). Five starts, median and range.
//  2. Event-loop stalls: the window in-process (offscreen) with the program's library worker;
//     a zero-interval timer fires at every turn of the event loop, and the longest gap
//     between two firings is the longest time the window could not react. Measured over the
//     start-up (controller list, driver settings, identity, firmware page), the firmware page
//     alone, the first-start backup, the "Parameter" page's "Confirm" and the exit sequence.
//
//   panel_bench [--starts N]

#include "gui/library_worker.h"
#include "gui/program.h"
#include "panel/frm_main.h"
#include "tests/bench/support/gui_stalls.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"
#include "tests/support/xvfb.h"

#include <QApplication>
#include <QTimer>

// clang-format off
#include <gtest/gtest.h>
#include <X11/Xlib.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace kvr::test;

int g_starts = 5;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool panelViewable(::Display* dpy) {
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n)) return false;
    bool found = false;
    for (unsigned i = 0; i < n && !found; ++i) {
        XWindowAttributes a{};
        char* name = nullptr;
        if (XGetWindowAttributes(dpy, children[i], &a) && a.map_state == IsViewable &&
            XFetchName(dpy, children[i], &name) && name != nullptr) {
            found = std::strstr(name, "Tactivo") != nullptr;
            XFree(name);
        }
    }
    if (children != nullptr) XFree(children);
    return found;
}

TEST(PanelBench, StartToWindowOnScreen) {
    XvfbServer server;
    ASSERT_TRUE(server.ok());
    ::Display* dpy = XOpenDisplay(server.name().c_str());
    ASSERT_NE(dpy, nullptr);
    tsapi::Bench bench;
    ASSERT_TRUE(bench.ready() && bench.addSerial(0, 1));
    ::setenv("DISPLAY", server.name().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("KVR_MESSAGE_ANSWERS", "ok", 1);
    std::vector<double> times;
    for (int i = 0; i < g_starts; ++i) {
        const auto start = Clock::now();
        ChildProcess panel(program("tactivo"), {});
        ASSERT_TRUE(waitUntil([&] { return panelViewable(dpy); }, std::chrono::seconds(20),
                              std::chrono::milliseconds(1)));
        times.push_back(ms(Clock::now() - start));
        panel.stop();
        ASSERT_TRUE(waitUntil([&] { return !panelViewable(dpy); }));
    }
    std::sort(times.begin(), times.end());
    std::printf("panel_bench: start to window on screen: median %.0f ms (%.0f .. %.0f ms, %d "
                "starts; goal < 400 ms)\n",
                times[times.size() / 2], times.front(), times.back(), g_starts);
    XCloseDisplay(dpy);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

TEST(PanelBench, EventLoopStalls) {
    ::setenv("KVR_MESSAGE_ANSWERS", "ok", 1);
    ::setenv("KVR_CONFIG_DIR", makeTempDir("config").c_str(), 1);
    tsapi::Bench bench;
    ASSERT_TRUE(bench.ready() && bench.addSerial(0, 1));
    kvr::panel::FrmMain frm;
    const auto shown = Clock::now();
    ASSERT_TRUE(frm.Form_Load());
    frm.show();
    QCoreApplication::processEvents();
    std::printf("panel_bench: in-process Form_Load and show: %.1f ms\n", ms(Clock::now() - shown));
    // The window's first paints are done before the library work is measured.
    for (const auto end = Clock::now() + std::chrono::milliseconds(300); Clock::now() < end;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const auto measure = [](const char* what, const std::function<void()>& work) {
        kvr::bench::measureStalls("tactivo", what, work);
    };
    kvr::bench::measureIdleBaseline("tactivo", std::chrono::seconds(15));
    measure("the start-up", [&] { frm.startUp(); });
    measure("the firmware page", [&] { frm.readfw(); });
    measure("the first-start backup", [&] { frm.rdeep(false); });
    measure("\"Confirm\" of the Parameter page", [&] { frm.Command6_Click(); });
    const_cast<kvr::panel::Session&>(frm.session()).settingsChanged = true; // "PL" at the exit
    measure("the exit sequence", [&] { frm.Form_Terminate(); });
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--starts") == 0) g_starts = std::max(1, std::atoi(argv[i + 1]));
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    kvr::gui::installProgramHooks(app);
    kvr::gui::LibraryWorker worker;
    return runAllTests(argc, argv);
}
