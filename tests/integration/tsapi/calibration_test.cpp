// Calibration and linearity exports against the driver daemon and an emulated controller:
// captures driven by emulated touches, the linearity table written into the controller frame
// by frame, the three-point block and the base point as the driver stores them.

#include "platform/ipc/control_device.h"
#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace kvr::test::tsapi {
namespace {

constexpr const char* kDeviceKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device0";

struct Point {
    std::int32_t x, y;
    bool operator==(const Point&) const = default;
};

// One emulated controller with E packets (12-bit coordinates that the captures take as they
// are), connected as serial unit 0 and opened through the library.
class CalibrationBench : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bench_.ready()) << bench_.diagnostics();
        sim_ = bench_.addSerial(0, 1, Sim::profile("nvlt3000-e"));
        ASSERT_NE(sim_, nullptr);
        controller_ = std::make_unique<OpenedController>("RS232_DEVICE0");
        ASSERT_TRUE(controller_->ok());
        h_ = controller_->handle();
    }

    void touch(Point p, int samples) {
        ASSERT_TRUE(sim_->play({"tap " + std::to_string(p.x) + " " + std::to_string(p.y) + " " +
                                std::to_string(samples)}));
    }

    // The frames of StoreCalibrationData from its "Z" on; none when it failed three times. A
    // store fails when every attempt at one word got its acknowledgement too late (a loaded
    // machine): it is done again, as a program would save again. (Attempts of the failed
    // store may still be on their way: the frames are taken from the new "Z" on.)
    std::vector<std::string> store() {
        for (int run = 0; run < 3; ++run) {
            const std::size_t from = sim_->frameTexts().size();
            if (StoreCalibrationData(h_) != 1) continue;
            auto frames = framesSince(*sim_, from);
            frames.erase(frames.begin(), std::find(frames.begin(), frames.end(), "Z"));
            return frames;
        }
        return {};
    }

    std::uint32_t deviceValue(const char* name) {
        std::uint32_t v = 0xDEADBEEF;
        reg::queryDword(kDeviceKey, name, v);
        return v;
    }

    Bench bench_;
    Sim* sim_ = nullptr;
    std::unique_ptr<OpenedController> controller_;
    std::int32_t h_ = -1;
};

std::string setFrame(unsigned address, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "SP%02X%04X", address, value);
    return text;
}

TEST_F(CalibrationBench, FivePointCaptureFillsTheTableAndStoresItInAddressOrder) {
    const Point targets[] = {{100, 100}, {200, 300}, {400, 300}, {400, 500}, {200, 500}};
    for (std::uint8_t p = 0; p < 5; ++p) {
        SCOPED_TRACE(p);
        ASSERT_EQ(SetLinearityPoint(h_, p, 60, 5), 1);
        Point got{-1, -1};
        EXPECT_EQ(GetLinearityData(h_, &got.x), 0); // nothing touched yet
        EXPECT_EQ(got, (Point{0, 0}));
        touch(targets[p], 70); // the point is ready on the 62nd sample, taken at the lift
        ASSERT_TRUE(waitUntil([&] { return GetLinearityData(h_, &got.x) == 1; }));
        EXPECT_EQ(got, targets[p]);
    }
    EXPECT_EQ(SetCalPoint(h_, 0, 0, 0), 1);

    // Slot by slot, x then y: the targets in the even slots, midpoints in the odd ones.
    const Point slots[9] = {{100, 100}, {200, 400}, {200, 300}, {300, 300}, {400, 300},
                            {400, 400}, {400, 500}, {300, 500}, {200, 500}};
    std::vector<std::string> expected{"Z"};
    for (unsigned s = 0; s < 9; ++s) {
        expected.push_back(setFrame(0x10 + 2 * s, static_cast<unsigned>(slots[s].x)));
        expected.push_back(setFrame(0x11 + 2 * s, static_cast<unsigned>(slots[s].y)));
    }
    expected.push_back("PL");
    EXPECT_TRUE(sameExchanges(store(), expected));
    for (unsigned s = 0; s < 9; ++s) {
        const auto word = [&](unsigned a) {
            return sim_->pty().inspect([a](const emu::Controller& c) { return c.word(a); });
        };
        EXPECT_EQ(word(0x10 + 2 * s), slots[s].x) << "slot " << s;
        EXPECT_EQ(word(0x11 + 2 * s), slots[s].y) << "slot " << s;
    }
}

TEST_F(CalibrationBench, NinePointCaptureKeepsTheNullPointerAndThreePointMarkerRules) {
    ASSERT_EQ(SetCalPoint(h_, 4, 60, 9), 1);
    touch({1234, 2345}, 70);
    // A null pointer reports the point without filing it.
    ASSERT_TRUE(waitUntil([&] { return CalCurrentPointReady(h_, nullptr) == 1; }));
    Point got{};
    ASSERT_EQ(CalCurrentPointReady(h_, &got.x), 1);
    EXPECT_EQ(got, (Point{1234, 2345}));
    ASSERT_TRUE(waitUntil([&] { return IsPenUp(h_) == 1; }));

    // Only slot 4 changed: words 0x18/0x19 get the point, the rest keep the loaded values
    // (never captured: written as they are).
    std::vector<std::string> expected{"Z"};
    for (unsigned address = 0x10; address <= 0x21; ++address)
        expected.push_back(address == 0x18   ? setFrame(address, 1234)
                           : address == 0x19 ? setFrame(address, 2345)
                                             : setFrame(address, 0));
    expected.push_back("PL");
    EXPECT_TRUE(sameExchanges(store(), expected));

    // A count of 3 is no linearity capture for SetLinearityPoint.
    EXPECT_EQ(SetLinearityPoint(h_, 0, 60, 3), 0);
}

TEST_F(CalibrationBench, ThreePointCaptureSaveAndBasePoint) {
    const Point targets[] = {{3900, 200}, {200, 3900}, {3900, 3900}};
    std::vector<std::int32_t> block;
    for (std::uint8_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(SetCalibrationPoint(h_, k), 1);
        Point got{-1, -1};
        EXPECT_EQ(GetCalibrationData(h_, &got.x), 0);
        EXPECT_EQ(got, (Point{0, 0}));
        touch(targets[k], 40); // ready after twenty steady samples
        ASSERT_TRUE(waitUntil([&] { return GetCalibrationData(h_, &got.x) == 1; }));
        EXPECT_EQ(got, targets[k]);
        // The driver's point, copied, but no linearity slot for a three-point capture.
        Point copy{};
        EXPECT_EQ(CalCurrentPointReady(h_, &copy.x), 0);
        EXPECT_EQ(copy, targets[k]);
        ASSERT_TRUE(waitUntil([&] { return IsPenUp(h_) == 1; }));
        block.push_back(got.x);
        block.push_back(got.y);
    }
    SetCalibrationPoint(h_, 255);

    const std::uint32_t before = deviceValue("CP1X");
    EXPECT_EQ(SaveCalibrationData(h_, block.data(), 23), 0);
    EXPECT_EQ(deviceValue("CP1X"), before) << "a short block must not be sent";
    ASSERT_EQ(SaveCalibrationData(h_, block.data(), 24), 1);
    const char* names[] = {"CP1X", "CP1Y", "CP2X", "CP2Y", "CP3X", "CP3Y"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(deviceValue(names[i]), static_cast<std::uint32_t>(block[i])) << names[i];

    // The base point and the block derived from it.
    const std::int32_t base[2] = {100, 200};
    EXPECT_EQ(SetBasePoint(h_, base, 7), 0);
    ASSERT_EQ(SetBasePoint(h_, base, 8), 1);
    const std::uint32_t derived[6] = {3996, 200, 100, 3896, 100, 200};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(deviceValue(names[i]), derived[i]) << names[i];
    std::int32_t back[2] = {-1, -1};
    EXPECT_EQ(GetBasePoint(h_, back, 7), 0);
    EXPECT_EQ(back[0], -1);
    ASSERT_EQ(GetBasePoint(h_, back, 8), 1);
    EXPECT_EQ(back[0], 100);
    EXPECT_EQ(back[1], 200);
}

TEST_F(CalibrationBench, StoreStopsAtTheFirstWordNotAcknowledged) {
    ASSERT_TRUE(sim_->play({"fault silence"}));
    const std::size_t from = sim_->frameTexts().size();
    EXPECT_EQ(StoreCalibrationData(h_), 0);
    // The preamble, then four attempts at the first word, then nothing more.
    const auto frames = framesSince(*sim_, from);
    ASSERT_EQ(frames.size(), 5U);
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_EQ(frames[i].substr(0, 4), "SP10");
}

// A serial control device whose controller 0 always has `point` captured, acknowledges every
// frame written to it and keeps the texts of those frames: for points no sensor gives.
class CapturedPointDevice {
public:
    explicit CapturedPointDevice(std::uint32_t x, std::uint32_t y) : x_(x), y_(y) {
        std::string error;
        server_ = ipc::ControlServer::start(
            "KvrRs232D", [this](ipc::Request& r) { return serve(r); }, "", error);
    }
    [[nodiscard]] bool ok() const { return server_ != nullptr; }
    std::vector<std::string> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }

private:
    ipc::Reply serve(ipc::Request& r) {
        std::lock_guard lock(mutex_);
        auto& b = r.buffer;
        const auto putDword = [&b](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i)
                b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        switch (r.code) {
        case 0x220048: // a captured point: ready, x, y
            b[0] = 1;
            putDword(1, x_);
            putDword(5, y_);
            return {0, 9};
        case 0x220034: // a frame (unit byte first), acknowledged at once
            frames_.emplace_back(b.begin() + 2, b.begin() + r.inLength - 1);
            queue_.insert(queue_.end(), {0x01, '0', 0x0D});
            return {0, 0};
        case 0x22003C:
            putDword(0, static_cast<std::uint32_t>(queue_.size()));
            return {0, 4};
        case 0x220038: {
            const std::size_t n = std::min<std::size_t>(queue_.size(), r.outLength);
            for (std::size_t i = 0; i < n; ++i, queue_.pop_front())
                b[i] = queue_.front();
            return {0, static_cast<std::uint32_t>(n)};
        }
        case 0x220040:
            queue_.clear();
            return {0, 0};
        default:
            return {0, 0};
        }
    }

    std::uint32_t x_, y_;
    std::mutex mutex_;
    std::vector<std::string> frames_;
    std::deque<std::uint8_t> queue_;
    std::unique_ptr<ipc::ControlServer> server_;
};

TEST(CalibrationTable, KeepsLowSixteenBitsAndNeverWritesOutsideItsSlots) {
    CapturedPointDevice device(70000, 0x12345);
    ASSERT_TRUE(device.ok());
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0"}));
    OpenedController controller("RS232_DEVICE0");
    ASSERT_TRUE(controller.ok());
    const std::int32_t h = controller.handle();

    // Indexes that name no slot of their count: the point is handed over, nothing is filed.
    const struct {
        std::uint8_t index, count;
    } outside[] = {{9, 9}, {200, 9}, {5, 5}, {4, 3}, {255, 3}};
    for (const auto& c : outside) {
        SetCalPoint(h, c.index, 0, c.count);
        std::int32_t point[2] = {};
        EXPECT_EQ(CalCurrentPointReady(h, point), 0) << int(c.index) << "/" << int(c.count);
        EXPECT_EQ(point[0], 70000);
        EXPECT_EQ(point[1], 0x12345);
    }
    // Nine-point target 8 takes the last slot, cut to 16 bits.
    SetCalPoint(h, 8, 60, 9);
    std::int32_t point[2] = {};
    ASSERT_EQ(CalCurrentPointReady(h, point), 1);
    ASSERT_EQ(StoreCalibrationData(h), 1);
    std::vector<std::string> expected{"Z"};
    for (unsigned address = 0x10; address <= 0x1F; ++address)
        expected.push_back(setFrame(address, 0));
    expected.push_back("SP201170");
    expected.push_back("SP212345");
    expected.push_back("PL");
    EXPECT_EQ(device.frames(), expected);
}

TEST(CalibrationArguments, InvalidHandlesAndNullPointersFailWithoutTouchingAnything) {
    for (const std::int32_t handle : {-1, 0, 99, 108, 150, 199, 204}) {
        SCOPED_TRACE(handle);
        std::int32_t point[2] = {7, 8};
        EXPECT_EQ(SetCalPoint(handle, 0, 60, 5), 0);
        EXPECT_EQ(SetLinearityPoint(handle, 0, 60, 9), 0);
        EXPECT_EQ(CalCurrentPointReady(handle, point), 0);
        EXPECT_EQ(GetCalibrationData(handle, point), 0);
        EXPECT_EQ(GetBasePoint(handle, point, 8), 0);
        EXPECT_EQ(point[0], 7);
        EXPECT_EQ(point[1], 8);
        EXPECT_EQ(GetLinearityData(handle, point), 0);
        EXPECT_EQ(point[0], 0);
        EXPECT_EQ(point[1], 0);
        EXPECT_EQ(StoreCalibrationData(handle), 0);
        EXPECT_EQ(SetCalibrationPoint(handle, 0), 0);
        EXPECT_EQ(SaveCalibrationData(handle, point, 24), 0);
        EXPECT_EQ(SetBasePoint(handle, point, 8), 0);
    }
    // A valid handle number with null pointers: refused, no crash.
    EXPECT_EQ(GetCalibrationData(100, nullptr), 0);
    EXPECT_EQ(GetLinearityData(100, nullptr), 0);
    EXPECT_EQ(SaveCalibrationData(100, nullptr, 24), 0);
    EXPECT_EQ(SetBasePoint(100, nullptr, 8), 0);
    EXPECT_EQ(GetBasePoint(100, nullptr, 8), 0);
}

} // namespace
} // namespace kvr::test::tsapi
