// The whole pointer path under X: emulated controller -> KvrRs232 (XTest sink) -> X server ->
// sketch. A drag is drawn as red pixels where the calibration puts it, and a tap on "Exit"
// ends the program.

#include "tests/e2e/utilities/pointer_path.h"
#include "tests/support/test_env.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace {

using kvr::test::Pixel;
using kvr::test::PointerPath;

// A sensor mounted a little off and skewed: far from the identity the defaults give.
kvr::engine::CalibrationSet offsetSensor() {
    kvr::engine::CalibrationSet c;
    c.CP1X = 300, c.CP1Y = 260;
    c.CP2X = 3700, c.CP2Y = 3800;
    c.CP3X = 3750, c.CP3Y = 240;
    return c;
}

double distanceToSegment(double px, double py, Pixel a, Pixel b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    double t = length2 == 0 ? 0 : ((px - a.x) * dx + (py - a.y) * dy) / length2;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

TEST(PointerPathUnderX, DragDrawnWhereTheCalibrationSaysAndExitEndsSketch) {
    if (!kvr::test::XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";
    PointerPath path(offsetSensor());
    ASSERT_TRUE(path.ready()) << path.diagnostics();

    constexpr int kSamples = 16;
    const int x1 = 800, y1 = 2600, x2 = 3300, y2 = 3400;
    ASSERT_TRUE(path.controller().play({"drag " + std::to_string(x1) + " " + std::to_string(y1) +
                                            " " + std::to_string(x2) + " " + std::to_string(y2) +
                                            " " + std::to_string(kSamples),
                                        "lift"}));
    std::vector<Pixel> trace; // the samples as the emulator interpolates them
    for (int i = 0; i < kSamples; ++i)
        trace.push_back(path.expectedPixel(x1 + (x2 - x1) * i / (kSamples - 1),
                                           y1 + (y2 - y1) * i / (kSamples - 1)));
    ASSERT_TRUE(kvr::test::waitUntil([&] {
        return path.pixel(trace.back()) == kvr::test::kRedRgb;
    })) << "no red at "
        << trace.back().x << "," << trace.back().y;

    const auto screen = path.screen();
    const auto red = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < PointerPath::kWidthPx && y < PointerPath::kHeightPx &&
               screen[static_cast<std::size_t>(y * PointerPath::kWidthPx + x)] ==
                   kvr::test::kRedRgb;
    };
    for (const Pixel& p : trace) {
        bool near = false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                near = near || red(p.x + dx, p.y + dy);
        EXPECT_TRUE(near) << "sample at " << p.x << "," << p.y << " not drawn";
    }
    int strays = 0, drawn = 0;
    for (int y = 0; y < PointerPath::kHeightPx; ++y)
        for (int x = 0; x < PointerPath::kWidthPx; ++x) {
            if (!red(x, y)) continue;
            ++drawn;
            double nearest = 1e9;
            for (std::size_t i = 1; i < trace.size(); ++i)
                nearest = std::min(nearest, distanceToSegment(x, y, trace[i - 1], trace[i]));
            strays += nearest > 1.5 ? 1 : 0;
        }
    EXPECT_GT(drawn, 0);
    EXPECT_EQ(strays, 0) << "red pixels away from the calibrated trace";

    // A tap on "Exit" (100 x 50 at W/2+50, H/2-100) ends sketch with 0.
    const auto [rawX, rawY] =
        path.rawFor({PointerPath::kWidthPx / 2 + 100, PointerPath::kHeightPx / 2 - 75});
    ASSERT_TRUE(path.controller().play(
        {"tap " + std::to_string(rawX) + " " + std::to_string(rawY) + " 3"}));
    const auto status = path.sketch().wait();
    ASSERT_TRUE(status.has_value()) << "sketch did not end: " << path.diagnostics();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

} // namespace
