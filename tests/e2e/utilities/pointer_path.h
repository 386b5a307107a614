#pragma once
// The whole pointer path on a private X server: an emulated controller (E packets) on COM1,
// the driver daemon with the XTest sink connected to it with a given calibration, and sketch
// covering the screen. Helpers say where the calibration puts a raw touch on the screen and
// read the screen's pixels back. Shared by the end-to-end test and the latency benchmark.

#include "engine/calibration.h"
#include "tests/integration/driver/driver_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/xvfb.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvr::test {

struct Pixel {
    int x = 0, y = 0;
};

class PointerPath {
public:
    static constexpr int kWidthPx = 1024;
    static constexpr int kHeightPx = 768;

    // Everything up to a running sketch whose grid is on the screen. ready() tells.
    explicit PointerPath(const engine::CalibrationSet& calibration);
    ~PointerPath();
    PointerPath(const PointerPath&) = delete;
    PointerPath& operator=(const PointerPath&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] std::string diagnostics() const;

    driver::Sim& controller() { return *sim_; }
    ChildProcess& sketch() { return *sketch_; }

    // The screen pixel a touch at raw E coordinates lands on: the driver's calibration, edge
    // snapping and default partition, then the XTest sink's pointer-to-pixel mapping.
    [[nodiscard]] Pixel expectedPixel(std::int32_t rawX, std::int32_t rawY) const;
    // Raw coordinates that land on `target` (the nearest on a 4-unit raster).
    [[nodiscard]] std::pair<std::int32_t, std::int32_t> rawFor(Pixel target) const;

    // 0xRRGGBB of the screen's pixels in a rectangle, row by row; of one pixel.
    [[nodiscard]] std::vector<std::uint32_t> grab(int x, int y, int width, int height) const;
    [[nodiscard]] std::uint32_t pixel(Pixel at) const {
        const auto one = grab(at.x, at.y, 1, 1);
        return one.empty() ? 0 : one[0];
    }

private:
    engine::CalibrationSet calibration_;
    XvfbServer xvfb_;
    void* display_ = nullptr; // ::Display*, kept out of this header
    std::unique_ptr<ChildProcess> daemon_;
    std::unique_ptr<driver::Sim> sim_;
    std::unique_ptr<ChildProcess> sketch_;
    bool ready_ = false;
};

inline constexpr std::uint32_t kRedRgb = 0xFF0000;

} // namespace kvr::test
