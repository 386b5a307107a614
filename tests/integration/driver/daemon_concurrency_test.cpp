// Eight controllers streaming while eight clients send control codes: nothing deadlocks, no
// packet is lost or doubled, and no setting is ever seen half-changed.

#include "platform/ipc/control_codes.h"
#include "tests/integration/driver/driver_harness.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace kvr::test::driver {
namespace {

using namespace kvr::control;

constexpr int kDevices = 8;
constexpr int kSamples = 1500; // pen-down samples per controller, then one pen-up
constexpr int kBandWidth12 = 512;

// Device n touches in the middle of its own band of X, so every record names its device.
int rawX12Of(int device) {
    return kBandWidth12 / 2 + kBandWidth12 * device;
}

TEST(DriverConcurrency, EightStreamsAndEightClientsLoseNothing) {
    std::vector<std::unique_ptr<Sim>> sims;
    for (int n = 0; n < kDevices; ++n) {
        sims.push_back(std::make_unique<Sim>("COM" + std::to_string(n + 1)));
        ASSERT_TRUE(sims.back()->ok());
    }
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    {
        Client client;
        for (int n = 0; n < kDevices; ++n)
            ASSERT_TRUE(
                client.connect(static_cast<std::uint8_t>(n), static_cast<std::uint32_t>(n + 1)));
    }

    for (int n = 0; n < kDevices; ++n) {
        std::string error;
        ASSERT_TRUE(sims[n]->pty().execute("rate 1000", &error)) << error;
        ASSERT_TRUE(sims[n]->pty().execute(
            "tap " + std::to_string(rawX12Of(n) * 4) + " 8192 " + std::to_string(kSamples), &error))
            << error;
    }

    // Two base points that a reader must only ever see whole.
    const std::pair<std::uint32_t, std::uint32_t> pointA{3968, 128}, pointB{3964, 132};
    std::atomic<bool> streaming{true};
    std::atomic<int> torn{0}, failed{0}, requests{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < kDevices; ++k) {
        clients.emplace_back([&, k] {
            Client client;
            if (!client.ok()) {
                ++failed;
                return;
            }
            for (int i = 0; streaming.load() || i < 20; ++i) {
                const auto device = static_cast<std::uint8_t>((k + i) % kDevices);
                const auto& p = (i % 2) ? pointA : pointB;
                std::vector<std::uint8_t> set{device};
                putDword(set, p.first);
                putDword(set, p.second);
                if (client.ioctl(IOCTL_RS232_SET_BASE_POINT, set, 1).status != 0) ++failed;
                const auto got = client.ioctl(IOCTL_RS232_GET_BASE_POINT, {device}, 8);
                if (got.status != 0 || got.reply.size() != 8) {
                    ++failed;
                } else {
                    const std::pair<std::uint32_t, std::uint32_t> seen{getDword(got.reply, 0),
                                                                       getDword(got.reply, 4)};
                    if (seen != pointA && seen != pointB) ++torn;
                }
                // Thresholds outside every band's coordinates.
                std::vector<std::uint8_t> expand{device, 4};
                putDword(expand, (i % 2) ? 4095 : 4000);
                if (client.ioctl(IOCTL_RS232_SET_EXPAND, expand, 1).status != 0) ++failed;
                const auto e = client.ioctl(IOCTL_RS232_GET_EXPAND, {device, 4}, 4);
                if (e.status != 0 || (getDword(e.reply, 0) != 4095 && getDword(e.reply, 0) != 4000))
                    ++torn;
                // Commands to the controller and replies taken from the queue.
                if (client.write(device, {0x01, 'Z', 0x0D}) != 0) ++failed;
                client.read(device, 64);
                if (client.ioctl(IOCTL_RS232_GET_REPORT_MODE, {device}, 1).reply !=
                    std::vector<std::uint8_t>{2})
                    ++failed;
                requests += 7;
            }
        });
    }

    const std::size_t expected = static_cast<std::size_t>(kDevices) * (kSamples + 1);
    for (auto& s : sims)
        EXPECT_TRUE(s->pty().waitIdle(std::chrono::seconds(60)));
    const auto records = daemon.waitRecords(expected, std::chrono::seconds(60));
    streaming = false;
    for (auto& t : clients)
        t.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_GT(requests.load(), 0);
    ASSERT_EQ(records.size(), expected);

    // Per device: every sample exactly once, a press first and a release last.
    std::map<int, std::vector<TraceRecord>> byDevice;
    for (const auto& r : records)
        byDevice[r.x / pointerOf(kBandWidth12)].push_back(r);
    ASSERT_EQ(byDevice.size(), static_cast<std::size_t>(kDevices));
    for (const auto& [device, list] : byDevice) {
        SCOPED_TRACE(device);
        ASSERT_EQ(list.size(), static_cast<std::size_t>(kSamples + 1));
        EXPECT_EQ(list.front().flags, 0x0001);
        EXPECT_EQ(list.back().flags, 0x0002);
        for (std::size_t i = 1; i + 1 < list.size(); ++i)
            ASSERT_EQ(list[i].flags, 0) << i;
    }

    // Still serving.
    Client after;
    EXPECT_EQ(after.currentComPort(7), 8);
}

} // namespace
} // namespace kvr::test::driver

namespace kvr::test::driver {
namespace {

// Two clients writing to one controller at once: every frame arrives whole, none is mixed
// with another, none is lost.
TEST(DriverConcurrency, WritersToOneControllerNeverInterleave) {
    Sim sim("COM1");
    ASSERT_TRUE(sim.ok());
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    {
        Client client;
        ASSERT_TRUE(client.connect(0, 1));
    }
    ASSERT_TRUE(sim.waitFrame("GP9E"));
    constexpr int kFramesEach = 300;
    std::atomic<int> failed{0};
    std::vector<std::thread> writers;
    for (const char* text : {"SP01AAAA", "SP02BBBB"}) {
        writers.emplace_back([&, text] {
            Client client;
            std::vector<std::uint8_t> frame(10);
            frame[0] = 0x01;
            std::copy(text, text + 8, frame.begin() + 1);
            frame[9] = 0x0D;
            for (int i = 0; i < kFramesEach; ++i)
                if (client.write(0, frame) != 0) ++failed;
        });
    }
    for (auto& t : writers)
        t.join();
    EXPECT_EQ(failed.load(), 0);
    ASSERT_TRUE(sim.waitFrame("SP01AAAA", kFramesEach));
    ASSERT_TRUE(sim.waitFrame("SP02BBBB", kFramesEach));
    for (const auto& f : sim.frames())
        EXPECT_FALSE(f.stray);
    std::size_t total = 0;
    for (const auto& t : sim.frameTexts())
        total += (t == "SP01AAAA" || t == "SP02BBBB") ? 1 : 0;
    EXPECT_EQ(total, 2U * kFramesEach);
}

} // namespace
} // namespace kvr::test::driver
