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
constexpr int W = PointerPath::kWidthPx, H = PointerPath::kHeightPx;

double distanceToSegment(double px, double py, Pixel a, Pixel b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    const double t =
        length2 == 0 ? 0 : std::clamp(((px - a.x) * dx + (py - a.y) * dy) / length2, 0.0, 1.0);
    return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

TEST(PointerPathUnderX, DragDrawnWhereTheCalibrationSaysAndExitEndsSketch) {
    if (!kvr::test::XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";
    kvr::engine::CalibrationSet sensor; // mounted a little off and skewed
    sensor.CP1X = 300, sensor.CP1Y = 260, sensor.CP2X = 3700, sensor.CP2Y = 3800;
    sensor.CP3X = 3750, sensor.CP3Y = 240;
    PointerPath path(sensor);
    ASSERT_TRUE(path.ready()) << path.diagnostics();

    constexpr int kSamples = 16, x1 = 800, y1 = 2600, x2 = 3300, y2 = 3400;
    ASSERT_TRUE(path.controller().play({"drag 800 2600 3300 3400 16", "lift"}));
    std::vector<Pixel> trace; // the samples as the emulator interpolates them
    for (int i = 0; i < kSamples; ++i)
        trace.push_back(path.expectedPixel(x1 + (x2 - x1) * i / (kSamples - 1),
                                           y1 + (y2 - y1) * i / (kSamples - 1)));
    ASSERT_TRUE(
        kvr::test::waitUntil([&] { return path.pixel(trace.back()) == kvr::test::kRedRgb; }));

    // Every red pixel lies on the calibrated trace (within one pixel), and every sample of the
    // trace has a red pixel within one pixel of it. The window may get fewer moves than there
    // are samples (the toolkit merges moves that queue up while a loaded machine keeps it
    // waiting): a line then joins two samples that are not neighbours, so the trace is every
    // line between two of its samples.
    const auto screen = path.grab(0, 0, W, H);
    std::vector<bool> sampleDrawn(trace.size(), false);
    int strays = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (screen[static_cast<std::size_t>(y * W + x)] != kvr::test::kRedRgb) continue;
            double nearest = 1e9;
            for (std::size_t i = 0; i < trace.size(); ++i) {
                for (std::size_t j = 0; j <= i; ++j)
                    nearest = std::min(nearest, distanceToSegment(x, y, trace[j], trace[i]));
                if (std::abs(x - trace[i].x) <= 1 && std::abs(y - trace[i].y) <= 1)
                    sampleDrawn[i] = true;
            }
            strays += nearest > 1.5 ? 1 : 0;
        }
    EXPECT_EQ(strays, 0) << "red pixels away from the calibrated trace";
    for (std::size_t i = 0; i < trace.size(); ++i)
        EXPECT_TRUE(sampleDrawn[i]) << "sample at " << trace[i].x << "," << trace[i].y;

    // A tap on "Exit" (100 x 50 at W/2+50, H/2-100) ends sketch with 0.
    const auto [rawX, rawY] = path.rawFor({W / 2 + 100, H / 2 - 75});
    ASSERT_TRUE(path.controller().play(
        {"tap " + std::to_string(rawX) + " " + std::to_string(rawY) + " 3"}));
    const auto status = path.sketch().wait();
    ASSERT_TRUE(status.has_value()) << "sketch did not end: " << path.diagnostics();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

} // namespace
