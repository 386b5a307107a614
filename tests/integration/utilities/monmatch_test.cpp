// monmatch against the driver daemon and two emulated controllers, with three displays from
// KVR_DISPLAYS: Esc skips a display, a touch binds the controller touched to the display
// offered, and the report modes are back as they were afterwards, on every way out.

#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/qt_support.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"
#include "utilities/monmatch/matcher.h"
#include "utilities/monmatch/monmatch_window.h"

#include <QTest>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

using kvr::test::tsapi::Bench;
using kvr::test::tsapi::framesSince;
using kvr::test::tsapi::OpenedController;
using kvr::test::tsapi::sameExchanges;

TEST(Monmatch, TouchesBindControllersToTheDisplaysOfferedAndModesComeBack) {
    ::setenv("KVR_DISPLAYS", "A:0,0,1024,768;B:1024,0,2048,768;C:2048,0,3072,768", 1);
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    auto* sim0 = bench.addSerial(0, 1);
    auto* sim1 = bench.addSerial(1, 2);
    ASSERT_TRUE(sim0 && sim1);
    OpenedController c0("RS232_DEVICE0"), c1("RS232_DEVICE1");
    ASSERT_EQ(SetReportMode(c0.handle(), 3), 1);
    ASSERT_EQ(SetReportMode(c1.handle(), 1), 1);

    kvr::monmatch::ReportModes modes;
    modes.saveAndSwitch();
    EXPECT_EQ(GetReportMode(c0.handle()), 2); // button mode is drawing mode while matching
    EXPECT_EQ(GetReportMode(c1.handle()), 1);

    kvr::monmatch::MonitorMatcher matcher;
    ASSERT_TRUE(matcher.start());
    EXPECT_EQ(matcher.count(), 3);
    kvr::monmatch::MonmatchWindow window(matcher);
    window.showOnCurrentDisplay();
    EXPECT_EQ(window.geometry(), QRect(0, 0, 1024, 768));
    QTest::keyClick(&window, Qt::Key_Escape); // display 1 keeps its controllers
    EXPECT_EQ(matcher.current(), 2);
    EXPECT_EQ(window.geometry(), QRect(1024, 0, 1024, 768));
    ASSERT_TRUE(sim1->play({"tap 30% 40% 3"}));
    EXPECT_TRUE(kvr::test::waitForGui([&] { return matcher.current() == 3; }));
    EXPECT_EQ(window.geometry(), QRect(2048, 0, 1024, 768));
    ASSERT_TRUE(sim0->play({"tap 60% 40% 3"}));
    EXPECT_TRUE(kvr::test::waitForGui([&] { return !window.isVisible(); }));
    modes.restore();

    // One attempt per read: a reply later than its wait gives 0, and the caller asks again.
    const std::int32_t h0 = c0.handle(), h1 = c1.handle();
    EXPECT_TRUE(kvr::test::waitUntil([h1] { return GetDisplayNumber(h1) == 1; })); // display 2
    EXPECT_TRUE(kvr::test::waitUntil([h0] { return GetDisplayNumber(h0) == 2; })); // display 3
    EXPECT_EQ(GetReportMode(c0.handle()), 3);
    EXPECT_EQ(GetReportMode(c1.handle()), 1);

    // No display: the program ends at once, and the mode it switched is switched back.
    ::setenv("KVR_DISPLAYS", "none", 1);
    const std::size_t before = sim0->frameTexts().size();
    auto run = kvr::test::runProgram(kvr::test::program("monmatch"), {});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> modeCommands;
    for (const auto& f : framesSince(*sim0, before))
        if (f == "MS" || f == "MP") modeCommands.push_back(f);
    EXPECT_TRUE(sameExchanges(modeCommands, {"MS", "MP"}));
    EXPECT_EQ(GetReportMode(c0.handle()), 3);
}

} // namespace
