#include "tests/e2e/utilities/pointer_path.h"

#include "engine/device.h"
#include "engine/pipeline.h"
#include "platform/pointer/pointer.h"
#include "platform/registry/registry.h"
#include "tests/support/test_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdlib>
#include <filesystem>

namespace kvr::test {

namespace {

const std::string kDevice0 = R"(HKLM\SYSTEM\CurrentControlSet\Control\Kvr\RS232\Device0)";

::Display* dpy(void* d) {
    return static_cast<::Display*>(d);
}

// The driver loads the device key at connect; the values it lacks get their defaults.
void writeCalibration(const engine::CalibrationSet& c) {
    reg::createKey(kDevice0);
    for (const auto& [name, value] : {std::pair{"CP1X", c.CP1X},
                                      {"CP1Y", c.CP1Y},
                                      {"CP2X", c.CP2X},
                                      {"CP2Y", c.CP2Y},
                                      {"CP3X", c.CP3X},
                                      {"CP3Y", c.CP3Y}})
        reg::setDword(kDevice0, name, static_cast<std::uint32_t>(value));
}

} // namespace

PointerPath::PointerPath(const engine::CalibrationSet& calibration)
    : calibration_(calibration), xvfb_("1024x768x24") {
    if (!xvfb_.ok()) return;
    display_ = XOpenDisplay(xvfb_.name().c_str());
    if (display_ == nullptr) return;
    ::setenv("DISPLAY", xvfb_.name().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("KVR_DISPLAYS");
    writeCalibration(calibration_);

    daemon_ = std::make_unique<ChildProcess>(
        program("KvrRs232"),
        std::vector<std::string>{"--foreground", "--pointer=xtest", "--log-level=debug"});
    const auto socket = runtimeDir() / "dev" / "KvrRs232D";
    if (!waitUntil([&] { return std::filesystem::exists(socket) || !daemon_->running(); }) ||
        !daemon_->running())
        return;
    const auto profile = driver::Sim::profile("nvlt3000-e");
    sim_ = std::make_unique<driver::Sim>("COM1", profile);
    driver::Client client;
    // Identified in time, or its E packets would be read as M packets.
    if (!sim_->ok() || !driver::connectUntilGreeted(*daemon_, client, 0, profile,
                                                    [&] { return client.connect(0, 1); }))
        return;

    sketch_ = std::make_unique<ChildProcess>(program("sketch"), std::vector<std::string>{});
    // The grid's first white line is on the screen once sketch has painted.
    ready_ = waitUntil([&] {
                 return pixel({32, 100}) == 0xFFFFFF || !sketch_->running();
             }) &&
             sketch_->running();
}

PointerPath::~PointerPath() {
    sketch_.reset();
    daemon_.reset();
    sim_.reset();
    if (display_ != nullptr) XCloseDisplay(dpy(display_));
}

std::string PointerPath::diagnostics() const {
    std::string text = "xvfb: " + xvfb_.log();
    if (daemon_) text += "\ndaemon: " + daemon_->stderrText();
    if (sketch_) text += "\nsketch: " + sketch_->stderrText();
    return text;
}

Pixel PointerPath::expectedPixel(std::int32_t rawX, std::int32_t rawY) const {
    const engine::ScreenPoint calibrated = engine::Do3PCalibration(calibration_, rawX, rawY);
    const engine::Rs232Device defaults{}; // edge thresholds at their defaults
    const engine::Coord12 snapped = engine::ExpandEdges(defaults, {calibrated.x, calibrated.y});
    const engine::ScreenPoint pointer =
        engine::MapToPartition(engine::DisplayPartitionEntry{}, snapped);
    return {pointer::pointerToPixel(pointer.x, 0, kWidthPx),
            pointer::pointerToPixel(pointer.y, 0, kHeightPx)};
}

std::pair<std::int32_t, std::int32_t> PointerPath::rawFor(Pixel target) const {
    std::pair<std::int32_t, std::int32_t> best{0, 0};
    int bestDistance = 1 << 30;
    for (std::int32_t x = 0; x < 4096; x += 4) {
        for (std::int32_t y = 0; y < 4096; y += 4) {
            const Pixel p = expectedPixel(x, y);
            const int d = std::abs(p.x - target.x) + std::abs(p.y - target.y);
            if (d < bestDistance) {
                bestDistance = d;
                best = {x, y};
            }
        }
    }
    return best;
}

std::vector<std::uint32_t> PointerPath::grab(int x, int y, int width, int height) const {
    std::vector<std::uint32_t> out;
    XImage* image = display_ == nullptr
                        ? nullptr
                        : XGetImage(dpy(display_), DefaultRootWindow(dpy(display_)), x, y,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height),
                                    AllPlanes, ZPixmap);
    if (image == nullptr) return out;
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            out.push_back(static_cast<std::uint32_t>(XGetPixel(image, col, row) & 0xFFFFFF));
    XDestroyImage(image);
    return out;
}

} // namespace kvr::test
