// The suite on a desktop with two monitors (weston, XWayland), read back as pixels: the
// display table and the full-screen programs on output 2 as native Wayland and as X clients,
// one touch through the driver's XTest sink into cal3pt on output 2, and monmatch binding two
// controllers before cal3pt calibrates the second one on its own output.

#include "engine/calibration.h"
#include "engine/pipeline.h"
#include "platform/display/display.h"
#include "platform/pointer/pointer.h"
#include "platform/registry/registry.h"
#include "tests/e2e/sessions/weston_session.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"

// clang-format off
// gtest before Xlib: Xlib defines macros (None, Bool) that clash with gtest's names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
// clang-format on

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/wait.h>

namespace {

using kvr::test::ChildProcess;
using kvr::test::program;
using kvr::test::waitUntil;
using kvr::test::WestonSession;
using kvr::test::tsapi::Sim;
constexpr int W = WestonSession::kWidthPx, H = WestonSession::kHeightPx;
constexpr std::uint32_t kWhite = 0xFFFFFF, kGray = 0x808080;
// cal3pt's targets (their white discs) with the default base offsets, in capture order.
constexpr std::array<std::array<int, 2>, 3> kTargets = {{{32, 24}, {992, 744}, {992, 24}}};
std::string tap(int rawX, int rawY, int samples) {
    return "tap " + std::to_string(rawX) + " " + std::to_string(rawY) + " " +
           std::to_string(samples);
}

#define REQUIRE_SESSION(s)                                                                         \
    if (!WestonSession::installed()) GTEST_SKIP() << "weston, Xwayland or Xvfb is missing";        \
    ASSERT_TRUE((s).ok()) << (s).diagnostics();                                                    \
    ::unsetenv("KVR_DISPLAYS")

struct Probe { // a pixel that must have, or must not have, a colour
    int x, y;
    std::uint32_t rgb;
    bool equal = true;
};
::testing::AssertionResult shows(const WestonSession& s, const std::vector<Probe>& probes) {
    std::string why;
    if (waitUntil([&] {
            for (const Probe& p : probes)
                if ((s.pixel(p.x, p.y) == p.rgb) != p.equal)
                    return why = std::to_string(p.x) + "," + std::to_string(p.y), false;
            return true;
        }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << why;
}

// The window covers output `n`, the panel's place included; the other output's panel shows.
// (The panel is probed a little away from the output's corner, where the compositor may draw
// the pointer.)
std::vector<Probe> covers(int n, std::vector<Probe> more = {}) {
    const int left = (n - 1) * W, other = (2 - n) * W;
    more.insert(
        more.end(),
        {{left + 48, 4, kGray}, {left + W - 2, H - 2, kGray}, {other + W / 2, 10, kGray, false}});
    return more;
}
std::vector<Probe> cal3ptOn(int n) {
    return covers(n, {{(n - 1) * W + kTargets[0][0], kTargets[0][1], kWhite}});
}

TEST(Sessions, DisplayTableAndFullScreenOnOutput2ForBothKindsOfClient) {
    WestonSession session;
    REQUIRE_SESSION(session);
    kvr::test::tsapi::Bench bench;
    auto profile = Sim::profile("nvlt3000-e");
    profile.defaults[0x9E] = 0x0100; // bound to display 2
    ASSERT_NE(bench.addSerial(0, 1, profile), nullptr) << bench.diagnostics();
    for (bool wayland : {true, false}) {
        SCOPED_TRACE(wayland ? "native Wayland" : "XWayland");
        session.becomeClient(!wayland);
        const auto list = kvr::display::enumerate().displays;
        ASSERT_EQ(list.size(), 2u);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ((std::array{list[i].leftPx, list[i].topPx, list[i].rightPx, list[i].bottomPx,
                                  int(list[i].primary)}),
                      (std::array{i * W, 0, (i + 1) * W, H, int(i == 0)}));
        ChildProcess sketch(program("sketch"), {"-2"});
        EXPECT_TRUE(shows(session, covers(2, {{W + 32, 100, kWhite}, {W + 100, 24, kWhite}})));
        sketch.stop();
        ChildProcess cal3pt(program("cal3pt"), {"RS232_DEVICE0"});
        EXPECT_TRUE(shows(session, cal3ptOn(2))) << cal3pt.stderrText();
    }
}

// Where the XTest sink puts a raw touch of a controller on display 2 (the library's entry for
// output 2), with the default calibration.
std::array<int, 2> pixelOnOutput2(int rawX, int rawY) {
    const auto c = kvr::engine::Do3PCalibration(kvr::engine::CalibrationSet{}, rawX, rawY);
    const auto p = kvr::engine::MapToPartition(
        {65535, 0, (W - 1) * 65535 / W, (H - 1) * 65535 / H},
        kvr::engine::ExpandEdges(kvr::engine::Rs232Device{}, {c.x, c.y}));
    return {kvr::pointer::pointerToPixel(p.x, 0, W), kvr::pointer::pointerToPixel(p.y, 0, H)};
}

// monmatch (native Wayland) offers output 1, then output 2, and binds the controller touched on
// each to it. cal3pt (XWayland) then calibrates controller 2 on output 2 only: kvrsim ->
// KvrRs232 (XTest) -> the window, where the save touch, made on the first target's pixel,
// arrives and stores.
TEST(Sessions, MonmatchBindsTwoControllersAndATouchReachesCal3ptOnOutput2) {
    WestonSession session;
    REQUIRE_SESSION(session);
    session.becomeClient(true);
    ChildProcess daemon(program("KvrRs232"),
                        {"--foreground", "--pointer=xtest", "--log-level=debug"});
    ASSERT_TRUE(waitUntil(
        [] { return std::filesystem::exists(kvr::test::runtimeDir() / "dev" / "KvrRs232D"); }));
    const auto profile = Sim::profile("nvlt3000-e");
    Sim sims[] = {Sim("COM1", profile), Sim("COM2", profile)};
    kvr::test::tsapi::Client client;
    for (std::uint8_t unit : {0, 1})
        ASSERT_TRUE(kvr::test::driver::connectUntilGreeted(
            daemon, client, unit, profile, [&] { return client.connect(unit, unit + 1u); }));
    session.becomeClient(false);
    ChildProcess monmatch(program("monmatch"), {});
    for (int n = 1; n <= 2; ++n) {
        ASSERT_TRUE(shows(session, covers(n))) << monmatch.stderrText();
        ASSERT_TRUE(sims[n - 1].play({"tap 50% 50% 10"}));
    }
    const auto matched = monmatch.wait();
    ASSERT_TRUE(matched && WIFEXITED(*matched) && WEXITSTATUS(*matched) == 0);
    EXPECT_GE(kvr::test::tsapi::countFrames(sims[0], "SP9E0000"), 1u); // again if answered late
    EXPECT_GE(kvr::test::tsapi::countFrames(sims[1], "SP9E0100"), 1u);

    session.becomeClient(true);
    Sim& sim = sims[1];
    ChildProcess cal3pt(program("cal3pt"), {"RS232_DEVICE1"});
    // The window comes last at start-up, after the capture is armed and the mode set.
    ASSERT_TRUE(shows(session, cal3ptOn(2))) << cal3pt.stderrText();
    const std::array<std::array<int, 2>, 3> raw = {{{130, 120}, {3950, 3900}, {3940, 140}}};
    for (std::size_t k = 0; k < raw.size(); ++k) {
        ASSERT_TRUE(sim.play({tap(raw[k][0], raw[k][1], 40)}));
        // The next target shows once the point is taken; after the last, the save prompt.
        const auto& next = kTargets[(k + 1) % 3];
        ASSERT_TRUE(shows(session, {{W + next[0], next[1], kWhite, k < 2}})) << cal3pt.stderrText();
    }
    std::array<int, 2> best{}; // the raw touch nearest the first target's pixel
    for (int x = 0, d = 1 << 30; x < 4096; x += 4)
        for (int y = 0; y < 4096; y += 4) {
            const auto p = pixelOnOutput2(x, y);
            const int e = std::abs(p[0] - W - kTargets[0][0]) + std::abs(p[1] - kTargets[0][1]);
            if (e < d) d = e, best = {x, y};
        }
    ASSERT_TRUE(sim.play({tap(best[0], best[1], 20)}));
    const auto status = cal3pt.wait();
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << cal3pt.stderrText();
    std::uint32_t cp2y = 0; // stored by the save, not by the countdown's end
    kvr::reg::queryDword(R"(HKLM\SYSTEM\CurrentControlSet\Control\Kvr\RS232\Device1)", "CP2Y",
                         cp2y);
    EXPECT_EQ(cp2y, 3900u);
    ::Display* x = XOpenDisplay(session.xwaylandDisplay().c_str()); // where XTest put it
    ASSERT_NE(x, nullptr);
    Window root = 0, child = 0;
    std::array<int, 2> at{}, local{};
    unsigned mask = 0;
    XQueryPointer(x, DefaultRootWindow(x), &root, &child, &at[0], &at[1], &local[0], &local[1],
                  &mask);
    XCloseDisplay(x);
    EXPECT_EQ(at, pixelOnOutput2(best[0], best[1]));
    EXPECT_LE(std::abs(at[0] - W - kTargets[0][0]) + std::abs(at[1] - kTargets[0][1]), 1);
}

} // namespace
