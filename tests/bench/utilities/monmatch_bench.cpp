// monmatch_bench: monmatch's window in this process (offscreen) with the program's library
// worker, against the real daemon and an emulated controller on two displays: the longest
// stalls of the event loop while it polls the library and binds the controller touched to
// each display in turn, beside the same figures for an idle event loop. Not pass/fail.

#include "gui/library_worker.h"
#include "tests/bench/support/gui_stalls.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/qt_support.h"
#include "utilities/monmatch/matcher.h"
#include "utilities/monmatch/monmatch_window.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using kvr::test::tsapi::Bench;

TEST(MonmatchBench, EventLoopStallsWhileMatching) {
    ::setenv("KVR_DISPLAYS", "A:0,0,1024,768;B:1024,0,2048,768", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    auto* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    kvr::bench::measureIdleBaseline("monmatch_bench", std::chrono::seconds(10));

    using kvr::gui::libraryCall;
    kvr::monmatch::ReportModes modes;
    kvr::monmatch::MonitorMatcher matcher;
    libraryCall([&] { modes.saveAndSwitch(); });
    ASSERT_TRUE(libraryCall([&] { return matcher.start(); }));
    kvr::monmatch::MonmatchWindow window(matcher);
    window.showOnCurrentDisplay();
    // The window's first show and paint (the number drawn 120 pixels high) are not the
    // library's work: measured from the polling on.
    kvr::test::pumpGui(std::chrono::milliseconds(300));
    kvr::bench::StallMeter meter;
    const auto start = Clock::now();
    meter.start();
    for (int display = 1; display <= 2; ++display) {
        // The finger plays beside the GUI thread (the emulator waits until the tap is out); the
        // GUI thread goes on turning until both the window and the finger are done.
        std::atomic<bool> lifted{false};
        std::thread finger([sim, &lifted] {
            sim->play({"tap 50% 50% 3"});
            lifted = true;
        });
        const bool movedOn = kvr::test::waitForGui([&] {
            return lifted && (display == 2 ? !window.isVisible() : window.geometry().x() == 1024);
        });
        finger.join();
        ASSERT_TRUE(movedOn);
    }
    libraryCall([&] { modes.restore(); });
    meter.stop();
    meter.print("monmatch", "two displays matched by touch",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
}

} // namespace
