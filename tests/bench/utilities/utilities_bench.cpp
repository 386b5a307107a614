// utilities_bench: figures of the utility programs (not pass/fail; run by hand).
//
//  - portscan over 8 listed ports with no controller (silent ptys), unattended (-u): the wall
//    time above the fixed waits of the scan (100 ms per map entry; per port 3 tries of a
//    500 ms reply wait and a 100 ms read time-out).
//  - touch-to-pixel latency of the whole pointer path under Xvfb: a touch sample handed to
//    the emulated controller -> KvrRs232 (XTest) -> X server -> sketch draws the red line
//    to it; p50 / p99 over 200 samples.

#include "tests/e2e/utilities/pointer_path.h"
#include "tests/support/test_env.h"
#include "tests/unit/serial/pty.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

TEST(UtilitiesBench, PortscanOverEightSilentPorts) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    constexpr int kPorts = 8, kRuns = 3;
    std::vector<kvr::test::Pty> ptys;
    const fs::path dir = kvr::test::stateDir() / "dosdevices";
    fs::create_directories(dir);
    for (int n = 1; n <= kPorts; ++n) {
        ptys.push_back(kvr::test::Pty::open());
        fs::create_symlink(ptys.back().slavePath, dir / ("com" + std::to_string(n)));
    }
    const double mapWaits = kPorts * 100.0;
    const double probeWaits = kPorts * 3 * 500.0;
    const double readTimeouts = kPorts * 3 * 100.0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        const auto result = kvr::test::runProgram(kvr::test::program("portscan"), {"-u"});
        const double took = ms(Clock::now() - start);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const double waits = mapWaits + probeWaits + readTimeouts;
        std::printf("portscan run %d: %.0f ms; fixed waits %.0f ms (map %.0f, replies %.0f, "
                    "read time-outs %.0f); above them %.0f ms = %.2f %%\n",
                    run + 1, took, waits, mapWaits, probeWaits, readTimeouts, took - waits,
                    100.0 * (took - waits) / waits);
    }
}

TEST(UtilitiesBench, TouchToPixelLatencyUnderXvfb) {
    if (!kvr::test::XvfbServer::installed()) GTEST_SKIP() << "no Xvfb";
    kvr::test::PointerPath path{kvr::engine::CalibrationSet{}};
    ASSERT_TRUE(path.ready()) << path.diagnostics();
    constexpr int kSamples = 200, kPerRow = 40;
    constexpr std::chrono::milliseconds kSamplePeriod{
        11}; // the emulator's 100 per second, and a bit
    auto& sim = path.controller();
    // Pen down (the press, nothing drawn yet). The emulator spaces samples by its sample
    // period; each sample below is sent more than a period after the one before, so it
    // leaves at once and the time measured is the path's alone.
    ASSERT_TRUE(sim.play({"touch 320 2200 1"}));
    std::vector<double> latencies;
    for (int i = 0; i < kSamples; ++i) {
        // Rows of fresh end points: each line ends on a pixel no earlier line has touched.
        const int rawX = 400 + (i % kPerRow) * 80;
        const int rawY = 2200 + (i / kPerRow) * 120;
        const kvr::test::Pixel at = path.expectedPixel(rawX, rawY);
        if (path.pixel(at) == kvr::test::kRedRgb) continue;
        std::string error;
        const auto start = Clock::now();
        ASSERT_TRUE(sim.pty().execute(
            "touch " + std::to_string(rawX) + " " + std::to_string(rawY) + " 1", &error))
            << error;
        const bool drawn =
            kvr::test::waitUntil([&] { return path.pixel(at) == kvr::test::kRedRgb; },
                                 std::chrono::seconds(5), std::chrono::milliseconds(0));
        ASSERT_TRUE(drawn) << "sample " << i << " at " << at.x << "," << at.y;
        latencies.push_back(ms(Clock::now() - start));
        sim.pty().waitIdle(std::chrono::seconds(5));
        std::this_thread::sleep_for(kSamplePeriod);
    }
    sim.play({"lift"});
    std::printf("touch -> red pixel over %zu samples: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                latencies.size(), percentile(latencies, 0.50), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
}

} // namespace
