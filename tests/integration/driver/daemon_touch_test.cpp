// Touches from an emulated controller to the trace sink, in the three report modes; the
// restart announcement; command exchanges through the pass-through codes.

#include "platform/ipc/control_codes.h"
#include "platform/ipc/event.h"
#include "tests/integration/driver/driver_harness.h"
#include "tests/support/test_env.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

namespace kvr::test::driver {
namespace {

using namespace kvr::control;

constexpr std::uint16_t kLeftDown = 0x0001, kLeftUp = 0x0002;
constexpr std::uint16_t kRightDown = 0x0004, kRightUp = 0x0008;

// One connected controller on COM1, device 0.
class Connected : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.ok());
        ASSERT_TRUE(daemon.ready()) << daemon.process().stderrText();
        ASSERT_TRUE(client.ok());
        ASSERT_TRUE(client.connect(0, 1));
        ASSERT_TRUE(sim.waitFrame("GP9E"));
    }
    std::vector<std::uint16_t> flagsOf(const std::vector<TraceRecord>& records) {
        std::vector<std::uint16_t> out;
        for (const auto& r : records)
            out.push_back(r.flags);
        return out;
    }

    Sim sim{"COM1"};
    Daemon daemon;
    Client client;
};

struct ModeCase {
    const char* name;
    std::uint8_t mode;
    std::vector<std::string> scenario;
    std::vector<std::uint16_t> flags;
};

TEST_F(Connected, TouchesArriveWithTheFlagsOfEachReportMode) {
    const std::vector<std::uint16_t> desktopTap12 = {0, 0, 0, 0,         0, 0,      0,
                                                     0, 0, 0, kLeftDown, 0, kLeftUp};
    const ModeCase cases[] = {
        // Drawing: the left button is held while touched.
        {"drawing", 2, {"tap 8192 8192 3"}, {kLeftDown, 0, 0, kLeftUp}},
        // Desktop: a short tap only moves; a longer touch presses on its eleventh sample.
        {"desktop tap", 1, {"tap 8192 8192 4"}, {0, 0, 0, 0, 0}},
        {"desktop press", 1, {"tap 8192 8192 12"}, desktopTap12},
        // Button: every sample is a whole click.
        {"button",
         3,
         {"tap 8192 8192 2"},
         {kLeftDown, kLeftUp, kLeftDown, kLeftUp, kLeftDown, kLeftUp}},
    };
    std::size_t seen = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(client.setReportMode(0, c.mode));
        ASSERT_TRUE(sim.play(c.scenario));
        const auto records = daemon.waitRecords(seen + c.flags.size());
        ASSERT_EQ(records.size(), seen + c.flags.size());
        const std::vector<TraceRecord> mine(records.begin() + static_cast<long>(seen),
                                            records.end());
        EXPECT_EQ(flagsOf(mine), c.flags);
        // Raw 14-bit 8192 is raw 2048, calibrated (2048, 2044).
        for (const auto& r : mine) {
            EXPECT_EQ(r.x, pointerOf(2048));
            EXPECT_EQ(r.y, pointerOf(2044));
        }
        seen = records.size();
    }
}

TEST_F(Connected, CoordinatesFollowTheCalibrationTargets) {
    // Raw targets of the default calibration and where they land (calibrated 12-bit).
    struct Point {
        int rawX, rawY, x12, y12;
    };
    const Point points[] = {
        {128, 128, 124, 128},     // target 1
        {3968, 3968, 3968, 3964}, // target 2
        {3968, 128, 3968, 128},   // target 3 (the base point)
    };
    std::size_t seen = 0;
    for (const auto& p : points) {
        ASSERT_TRUE(sim.play(
            {"tap " + std::to_string(p.rawX * 4) + " " + std::to_string(p.rawY * 4) + " 1"}));
        const auto records = daemon.waitRecords(seen + 2);
        ASSERT_EQ(records.size(), seen + 2);
        EXPECT_EQ(records[seen].x, pointerOf(p.x12)) << p.rawX << "," << p.rawY;
        EXPECT_EQ(records[seen].y, pointerOf(p.y12)) << p.rawX << "," << p.rawY;
        seen += 2;
    }
}

TEST_F(Connected, SideButtonGivesRightClicksWhenSwitchedOn) {
    const auto r = client.ioctl(IOCTL_RS232_SET_RIGHT_CLICK, {0, 1}, 1);
    ASSERT_EQ(r.status, 0U);
    ASSERT_TRUE(sim.play({"button down", "tap 8192 8192 2", "button up"}));
    const auto records = daemon.waitRecords(3);
    ASSERT_EQ(records.size(), 3U);
    EXPECT_EQ(flagsOf(records), (std::vector<std::uint16_t>{kRightDown, kRightUp, kRightUp}));
}

TEST_F(Connected, RestartAnnouncementResendsTheReportModeTwice) {
    struct Case {
        std::uint8_t mode;
        const char* command;
    };
    const Case cases[] = {{2, "MS"}, {3, "MP"}, {1, "MS"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_TRUE(client.setReportMode(0, c.mode));
        const std::size_t before = sim.frames().size();
        const auto announced = std::chrono::steady_clock::now();
        ASSERT_TRUE(sim.play({"restart"}));
        ASSERT_TRUE(waitUntil([&] { return sim.frames().size() >= before + 2; }));
        // The two commands are 50 ms apart when sent, so the second comes 50 ms or more after
        // the announcement. (The times the frames arrive at say less: the line delays each
        // frame by its own amount, which a loaded machine stretches.)
        EXPECT_GE(std::chrono::steady_clock::now() - announced, std::chrono::milliseconds(50));
        const auto texts = sim.frameTexts();
        ASSERT_GE(texts.size(), before + 2);
        EXPECT_EQ(texts[before], c.command);
        EXPECT_EQ(texts[before + 1], c.command);
        // Exactly two: nothing follows.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(sim.frames().size(), before + 2);
    }
}

TEST_F(Connected, RegisteredEventsAreSetByTouches) {
    // Touch-down per device (code 5) and the driver-wide touch-up (code 48), handed over as
    // descriptors; the daemon keeps its own duplicates.
    auto down = ipc::Event::create();
    auto up = ipc::Event::create();
    ASSERT_TRUE(down && up);
    std::vector<std::uint8_t> in{0};
    putDword(in, static_cast<std::uint32_t>(down->fd()));
    EXPECT_EQ(client.ioctl(IOCTL_RS232_SET_DOWN_EVENT, in, 0, down->fd()).status, 0U);
    std::vector<std::uint8_t> global;
    putDword(global, static_cast<std::uint32_t>(up->fd()));
    EXPECT_EQ(client.ioctl(IOCTL_RS232_SET_GLOBAL_UP_EVENT, global, 0, up->fd()).status, 0U);
    // A second down event for the same device is refused.
    EXPECT_EQ(client.ioctl(IOCTL_RS232_SET_DOWN_EVENT, in, 0, down->fd()).status, 0xC0000001U);

    EXPECT_FALSE(down->isSet());
    ASSERT_TRUE(sim.play({"touch 8192 8192 2"}));
    EXPECT_TRUE(down->wait(std::chrono::seconds(20)));
    EXPECT_FALSE(up->isSet());
    ASSERT_TRUE(sim.play({"lift"}));
    EXPECT_TRUE(up->wait(std::chrono::seconds(20)));
    // The driver-wide notification names the device that raised it.
    const auto last = client.ioctl(IOCTL_RS232_GET_LAST_UP_DEVICE, {}, 1);
    EXPECT_EQ(last.reply, std::vector<std::uint8_t>{0});
}

TEST_F(Connected, TouchesKeepFlowingAcrossARestart) {
    ASSERT_TRUE(sim.play({"restart", "tap 8192 8192 3"}));
    const auto records = daemon.waitRecords(4);
    ASSERT_EQ(records.size(), 4U);
    EXPECT_EQ(flagsOf(records), (std::vector<std::uint16_t>{kLeftDown, 0, 0, kLeftUp}));
}

TEST_F(Connected, WriteAndReadBufferCarryACommandExchange) {
    EXPECT_EQ(client.ioctl(IOCTL_RS232_FLUSH_READ_BUFFER, {0}, 0).status, 0U);
    // Parameter 9E of the emulated controller; the bytes go out unchanged.
    const std::vector<std::uint8_t> get9E{0x01, 'G', 'P', '9', 'E', 0x0D};
    ASSERT_EQ(client.write(0, get9E), 0U);
    ASSERT_TRUE(sim.waitFrame("GP9E", 2));
    ASSERT_TRUE(waitUntil([&] { return client.readLength(0) >= 6; }));
    const auto reply = client.read(0, 10);
    ASSERT_EQ(reply.size(), 6U);
    EXPECT_EQ(reply.front(), 0x01);
    EXPECT_EQ(reply.back(), 0x0D);
    EXPECT_EQ(client.readLength(0), 0U);

    // The longest write, ten bytes: a set-parameter frame, answered SOH '0' CR.
    const std::vector<std::uint8_t> ten{0x01, 'S', 'P', '0', '1', '0', '0', '0', '0', 0x0D};
    ASSERT_EQ(client.write(0, ten), 0U);
    ASSERT_TRUE(sim.waitFrame("SP010000"));
    ASSERT_TRUE(waitUntil([&] { return client.readLength(0) >= 3; }));
    EXPECT_EQ(client.read(0), (std::vector<std::uint8_t>{0x01, '0', 0x0D}));
    // One byte too many is refused before anything is sent.
    std::vector<std::uint8_t> eleven = ten;
    eleven.push_back(0x0D);
    EXPECT_EQ(client.write(0, eleven), 0xC0000023U);
}

// kvrctl watch's request: the socket passed gets the raw chunks and the very pointer records
// the sink gets, and the driver lets go of it when the watching connection closes.
TEST_F(Connected, AWatcherGetsRawBytesAndPointerRecordsUntilItsConnectionCloses) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd mine(pair[0]), theirs(pair[1]);
    auto watching = ipc::ControlConnection::open("KvrRs232D");
    ASSERT_TRUE(watching);
    std::uint8_t unit = 0;
    std::uint32_t status = 1, returned = 0;
    ASSERT_TRUE(watching->ioctl(IOCTL_KVR_WATCH, &unit, 1, nullptr, 0, &returned, theirs.get(),
                                &status));
    theirs.reset();
    ASSERT_TRUE(client.setReportMode(0, 2));
    ASSERT_TRUE(sim.play({"tap 8192 8192 3"}));
    const auto records = daemon.waitRecords(4);

    std::size_t rawBytes = 0;
    std::vector<TraceRecord> watched;
    ASSERT_TRUE(waitUntil([&] {
        std::uint8_t message[512];
        for (ssize_t n; (n = ::recv(mine.get(), message, sizeof message, MSG_DONTWAIT)) > 0;) {
            WatchHeader h{};
            std::memcpy(&h, message, sizeof h);
            EXPECT_EQ(h.unit, 0);
            EXPECT_EQ(static_cast<std::size_t>(n), sizeof h + h.length);
            if (h.kind == WatchKind::Raw) rawBytes += h.length;
            if (h.kind != WatchKind::Pointer) continue;
            WatchPointer p{};
            std::memcpy(&p, message + sizeof h, sizeof p);
            watched.push_back({0, p.x, p.y, p.buttonFlags});
        }
        return watched.size() >= records.size();
    }));
    EXPECT_EQ(watched, records);
    EXPECT_GE(rawBytes, 4u * 5u); // four M packets of five bytes (and the mode's reply)

    // The watcher's connection ends: the driver closes its end of the socket.
    watching.reset();
    EXPECT_TRUE(waitUntil([&] {
        std::uint8_t byte;
        return ::recv(mine.get(), &byte, 1, MSG_DONTWAIT) == 0;
    }));
}

} // namespace
} // namespace kvr::test::driver
