// Several clients at once: threads sending control codes to every device while others change
// settings and a read path decodes packets. No torn calibration set is ever seen, memory and
// registry agree at the end, and nothing deadlocks.

#include "control_test_support.h"
#include "engine/calibration.h"
#include "engine/decode.h"
#include "platform/registry/registry.h"
#include "tests/support/test_env.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace kvr::driver::test {
namespace {

using namespace ntstatus;

constexpr std::array<std::uint32_t, 6> kSetA{200, 210, 3900, 3800, 3950, 150};
constexpr std::array<std::uint32_t, 6> kSetB{300, 320, 3700, 3750, 3800, 250};

std::vector<std::uint8_t> calRequest(std::uint8_t device, const std::array<std::uint32_t, 6>& set) {
    std::vector<std::uint8_t> in{device};
    for (std::uint32_t v : set)
        putDword(in, v);
    return in;
}

bool isSet(const engine::CalibrationSet& s, const std::array<std::uint32_t, 6>& v) {
    return s.CP1X == static_cast<std::int32_t>(v[0]) && s.CP1Y == static_cast<std::int32_t>(v[1]) &&
           s.CP2X == static_cast<std::int32_t>(v[2]) && s.CP2Y == static_cast<std::int32_t>(v[3]) &&
           s.CP3X == static_cast<std::int32_t>(v[4]) && s.CP3Y == static_cast<std::int32_t>(v[5]);
}

TEST(ControlConcurrency, ClientsReadersAndSettersRunTogetherWithoutTornSettingsOrDeadlock) {
    DriverContext ctx;
    FakeLink link(ctx);
    ctx.attachSerialLink(&link);
    for (std::uint8_t n = 0; n < 8; ++n) {
        ManageRegistry(ctx, n);
        link.setConnected(n, true);
    }
    // Every write gets a short reply, so queue readers have bytes to take.
    link.onWrite([&ctx](std::uint8_t n, const std::vector<std::uint8_t>&) {
        for (std::uint8_t b : std::initializer_list<std::uint8_t>{0x01, '0', 0x0D})
            engine::QueueResponseData(b, ctx.device(n));
    });

    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::atomic<int> torn{0};
    std::atomic<int> unexpectedStatus{0};
    std::vector<std::thread> threads;

    // Calibration setter on device 0: alternates two complete sets.
    threads.emplace_back([&] {
        for (int i = 0; i < 150; ++i) {
            const Result r =
                send(ctx, IOCTL_RS232_SAVE_CAL_DATA, calRequest(0, i % 2 ? kSetB : kSetA), 1);
            if (r.status != kSuccess) ++unexpectedStatus;
        }
        ++finished;
    });
    // Rotation setters on device 1, each with its own value.
    for (std::uint8_t t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                if (send(ctx, IOCTL_RS232_SET_ROTATION, {1, t}, 1).status != kSuccess)
                    ++unexpectedStatus;
            }
            ++finished;
        });
    }
    // Clients sending a mix of codes to every device.
    for (unsigned seed = 1; seed <= 4; ++seed) {
        threads.emplace_back([&, seed] {
            std::mt19937 rng(seed);
            const std::uint32_t codes[] = {
                IOCTL_RS232_GET_ROTATION,       IOCTL_RS232_GET_SOUND_STATUS,
                IOCTL_RS232_GET_BASE_POINT,     IOCTL_RS232_READ_LENGTH,
                IOCTL_RS232_READ_BUFFER,        IOCTL_RS232_WRITE_BUFFER,
                IOCTL_RS232_SET_REPORT_MODE,    IOCTL_RS232_GET_EXPAND,
                IOCTL_RS232_QUERY_TOUCH_SEARCH, IOCTL_RS232_SET_3P_CAL_POINT,
                IOCTL_RS232_CAL_POINT_READY,    IOCTL_RS232_SET_DISPLAY_PARTITION};
            for (int i = 0; i < 400; ++i) {
                const std::uint32_t code = codes[rng() % std::size(codes)];
                const auto device = static_cast<std::uint8_t>(rng() % 8);
                std::vector<std::uint8_t> in{device, static_cast<std::uint8_t>(1 + rng() % 3), 0x01,
                                             'Z', 0x0D};
                in.resize(17, 0);
                const std::uint32_t inLength = code == IOCTL_RS232_WRITE_BUFFER ? 5 : 17;
                const Result r = send(ctx, code, in, 16, -1, DeviceObject::Control, inLength);
                if (r.status != kSuccess) ++unexpectedStatus;
            }
            ++finished;
        });
    }
    // A read path on device 0: decodes M packets under the device lock while settings change.
    threads.emplace_back([&] {
        const std::uint8_t packet[] = {0xC0, 0x10, 0x20, 0x30, 0x40, 0x80, 0x11, 0x22, 0x33, 0x44};
        while (!stop.load())
            engine::DecodeChunk(ctx.device(0), packet, sizeof packet);
    });
    // An observer that checks the calibration set is always whole.
    threads.emplace_back([&] {
        while (!stop.load()) {
            engine::CalibrationSet s;
            {
                std::lock_guard g(ctx.device(0).Lock);
                s = engine::CalibrationOf(ctx.device(0));
            }
            if (!isSet(s, kSetA) && !isSet(s, kSetB) &&
                !isSet(s, {128, 128, 3968, 3968, 3968, 128}))
                ++torn;
        }
    });

    const int workers = 1 + 3 + 4;
    const bool allDone =
        kvr::test::waitUntil([&] { return finished.load() == workers; }, std::chrono::seconds(90));
    stop = true;
    if (!allDone) {
        // A deadlock: the joins below would hang, so end the test process here.
        ADD_FAILURE() << "control requests did not finish";
        std::abort();
    }
    for (auto& t : threads)
        t.join();
    ctx.attachSerialLink(nullptr);

    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(unexpectedStatus.load(), 0);
    // Memory and registry end with the same values.
    const engine::CalibrationSet s = engine::CalibrationOf(ctx.device(0));
    EXPECT_TRUE(isSet(s, kSetB)); // the last set stored
    std::uint32_t v = 0;
    for (auto [name, expected] :
         {std::pair{"CP1X", s.CP1X}, std::pair{"CP1Y", s.CP1Y}, std::pair{"CP2X", s.CP2X},
          std::pair{"CP2Y", s.CP2Y}, std::pair{"CP3X", s.CP3X}, std::pair{"CP3Y", s.CP3Y}}) {
        ASSERT_EQ(reg::queryDword(ctx.deviceKeyPath(0), name, v), reg::Status::Ok);
        EXPECT_EQ(v, static_cast<std::uint32_t>(expected)) << name;
    }
    ASSERT_EQ(reg::queryDword(ctx.deviceKeyPath(1), "Rotation", v), reg::Status::Ok);
    EXPECT_EQ(v, ctx.device(1).Rotation);
}

// A slow request (the display query talks to the controller and waits in the caller's thread)
// holds no lock while it does, so another client's requests to the same device go through.
TEST(ControlConcurrency, DisplayQueryDoesNotBlockOtherClients) {
    DriverContext ctx;
    FakeLink link(ctx);
    ctx.attachSerialLink(&link);
    ManageRegistry(ctx, 0);
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    // The reset command stalls inside the serial write until the other client is done.
    link.onWrite([&](std::uint8_t, const std::vector<std::uint8_t>& bytes) {
        if (bytes.size() != 3) return;
        inside = true;
        kvr::test::waitUntil([&] { return release.load(); }, std::chrono::seconds(30));
    });
    std::thread slow([&] { send(ctx, IOCTL_RS232_READ_DISPLAY_NUMBER, {0}, 0); });
    ASSERT_TRUE(kvr::test::waitUntil([&] { return inside.load(); }));
    EXPECT_EQ(send(ctx, IOCTL_RS232_SET_ROTATION, {0, 1}, 1).status, kSuccess);
    EXPECT_EQ(send(ctx, IOCTL_RS232_GET_ROTATION, {0}, 1).buffer[0], 1);
    EXPECT_EQ(send(ctx, IOCTL_RS232_SAVE_CAL_DATA, calRequest(0, kSetA), 1).status, kSuccess);
    EXPECT_EQ(send(ctx, IOCTL_RS232_SET_MANUAL_RIGHT_CLICK, {1}, 1).status, kSuccess);
    release = true;
    slow.join();
    ctx.attachSerialLink(nullptr);
}

} // namespace
} // namespace kvr::driver::test
