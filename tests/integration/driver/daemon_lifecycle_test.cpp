// Lines that hang up, unloading with controllers connected, and the USB role's units.

#include "platform/common/unique_fd.h"
#include "platform/ipc/control_codes.h"
#include "platform/registry/registry.h"
#include "tests/integration/driver/driver_harness.h"
#include "tests/support/test_env.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

namespace kvr::test::driver {
namespace {

using namespace kvr::control;

std::size_t countOf(const std::vector<std::string>& texts, const std::string& text) {
    std::size_t n = 0;
    for (const auto& t : texts)
        n += t == text ? 1 : 0;
    return n;
}

TEST(DriverLifecycle, HangUpEndsTheReadAndOnlyDisconnectThenReopenRestartsIt) {
    Sim sim("COM1");
    ASSERT_TRUE(sim.ok());
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    ASSERT_TRUE(client.connect(0, 1));
    ASSERT_TRUE(sim.waitFrame("GP9E"));

    ASSERT_TRUE(sim.play({"hangup"}));
    ASSERT_TRUE(waitUntil([&] {
        return daemon.process().stderrText().find("device 0: line hung up") != std::string::npos;
    }));
    // A fresh line under the same name, as when a cable is plugged back in.
    ASSERT_TRUE(sim.play({"reconnect"}));

    // The device still holds its (dead) port: code 21 acknowledges and does nothing.
    const auto reopened = client.reopen(0);
    EXPECT_EQ(reopened.status, 0U);
    EXPECT_EQ(reopened.reply, std::vector<std::uint8_t>{1});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(countOf(sim.frameTexts(), "Z"), 1U);

    // Disconnect, then reopen: a whole new connect on the stored port.
    EXPECT_EQ(client.disconnect(0), 0U);
    EXPECT_EQ(client.reopen(0).status, 0U);
    ASSERT_TRUE(sim.waitFrame("Z", 2));
    ASSERT_TRUE(sim.waitFrame("GP9E", 2));
    ASSERT_TRUE(sim.play({"tap 8192 8192 1"}));
    EXPECT_EQ(daemon.waitRecords(2).size(), 2U);
}

TEST(DriverLifecycle, DisconnectStopsDeliveryAndReleasesThePort) {
    Sim sim("COM1");
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    ASSERT_TRUE(client.connect(0, 1));
    EXPECT_EQ(client.disconnect(0), 0U);
    EXPECT_EQ(client.write(0, {0x01, 'Z', 0x0D}), 0xC0000023U); // not connected
    ASSERT_TRUE(sim.play({"tap 8192 8192 3"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(daemon.records().empty());
    // Disconnecting again, or a device never connected, is harmless.
    EXPECT_EQ(client.disconnect(0), 0U);
    EXPECT_EQ(client.disconnect(5), 0U);

    // The port was really let go: the same line connects again, and again.
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(client.connect(0, 1));
        ASSERT_TRUE(sim.waitFrame("Z", static_cast<std::size_t>(round + 1)));
        ASSERT_TRUE(sim.play({"tap 8192 8192 1"}));
        EXPECT_EQ(daemon.waitRecords(static_cast<std::size_t>(2 * round)).size(),
                  static_cast<std::size_t>(2 * round));
        EXPECT_EQ(client.disconnect(0), 0U);
    }
}

// A pointer sink that blocks (a trace pipe nobody reads) holds the read thread: a disconnect
// gives up on it after its bound instead of waiting with it, and the touch in progress is
// released as the thread leaves once the sink takes samples again.
TEST(DriverLifecycle, DisconnectGivesUpOnAReadThreadHeldInThePointerSink) {
    const auto fifo = makeTempDir("fifo") / "pointer";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reader);
    const int capacity = ::fcntl(reader.get(), F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    Sim sim("COM1");
    Daemon daemon(false, {}, fifo);
    ASSERT_TRUE(sim.ok() && daemon.ready()) << daemon.process().stderrText();
    Client client;
    ASSERT_TRUE(client.connect(0, 1));
    ASSERT_TRUE(sim.waitFrame("GP9E"));
    // Pressed at once, moved (a sample per position), never lifted.
    ASSERT_TRUE(sim.play({"rate 400", "drag 0 0 16000 16000 400"}));
    // Full: less room left than one line takes (a line never goes in half).
    int queued = 0;
    ASSERT_TRUE(waitUntil([&] {
        return ::ioctl(reader.get(), FIONREAD, &queued) == 0 && queued > capacity - 64;
    })) << queued << " of " << capacity << " bytes";
    EXPECT_EQ(client.disconnect(0), 0U);

    std::string trace;
    ASSERT_TRUE(waitUntil([&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(reader.get(), chunk, sizeof chunk)) > 0;)
            trace.append(chunk, static_cast<std::size_t>(n));
        return trace.ends_with(" 2\n"); // the last sample: the left button's release
    }));
}

TEST(DriverLifecycle, SigtermWithConnectedControllersUnloadsCleanly) {
    Sim a("COM1"), b("COM2");
    ASSERT_TRUE(a.ok() && b.ok());
    auto daemon = std::make_unique<Daemon>();
    ASSERT_TRUE(daemon->ready());
    {
        Client client;
        ASSERT_TRUE(client.connect(0, 1));
        ASSERT_TRUE(client.connect(1, 2));
    }
    // Touches are streaming while the signal arrives.
    std::string error;
    ASSERT_TRUE(a.pty().execute("drag 100 100 16000 16000 300", &error));
    ASSERT_FALSE(daemon->waitRecords(1).empty());
    ASSERT_TRUE(daemon->process().signal(SIGTERM));
    const auto status = daemon->process().wait(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status)) << daemon->process().stderrText();
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_NE(daemon->process().stderrText().find("unloaded"), std::string::npos);
    // The socket and the device-map entry went with it.
    EXPECT_FALSE(std::filesystem::exists(daemon->socketPath()));
    reg::Value v;
    EXPECT_EQ(
        reg::queryValue("HKLM\\HARDWARE\\DEVICEMAP\\PointerPort", "\\Device\\PointerPort0", v),
        reg::Status::NotFound);
    // A new daemon loads under the same pointer-port name.
    Daemon again;
    ASSERT_TRUE(again.ready());
    EXPECT_EQ(
        reg::queryValue("HKLM\\HARDWARE\\DEVICEMAP\\PointerPort", "\\Device\\PointerPort0", v),
        reg::Status::Ok);
}

TEST(DriverLifecycle, SecondDaemonTakesTheNextPointerPortAndCannotServeTheSameSocket) {
    Daemon first;
    ASSERT_TRUE(first.ready());
    ChildProcess second(program("KvrRs232"), {"--foreground", "--pointer=none"});
    const auto status = second.wait(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(WEXITSTATUS(*status), 0);
    EXPECT_FALSE(second.stderrText().empty());
    // The failed load left no device-map entry behind.
    reg::Value v;
    EXPECT_EQ(
        reg::queryValue("HKLM\\HARDWARE\\DEVICEMAP\\PointerPort", "\\Device\\PointerPort1", v),
        reg::Status::NotFound);
}

TEST(DriverLifecycle, CommandLineRejectsBadOptions) {
    EXPECT_EQ(runProgram(program("KvrRs232"), {"--help"}).exitCode, 0);
    EXPECT_NE(runProgram(program("KvrRs232"), {"--pointer=mouse"}).exitCode, 0);
    EXPECT_NE(runProgram(program("KvrRs232"), {"--pointer=trace"}).exitCode, 0);
    EXPECT_NE(runProgram(program("KvrRs232"), {"--log-level=loud"}).exitCode, 0);
}

// A controller that goes away in the middle of a touch (a disconnect request, a hang-up)
// leaves no button pressed: the trace ends with the release, and after the reconnect the
// first touch starts with a press again.
TEST(DriverLifecycle, TouchCutOffEndsWithAReleaseAndTheNextStartsWithAPress) {
    constexpr std::uint16_t kLeftDown = 0x0001, kLeftUp = 0x0002;
    for (const bool hangUp : {false, true}) {
        SCOPED_TRACE(hangUp ? "hang-up" : "disconnect");
        Sim sim("COM1");
        Daemon daemon;
        ASSERT_TRUE(sim.ok() && daemon.ready());
        Client client;
        ASSERT_TRUE(client.connect(0, 1));
        ASSERT_TRUE(sim.waitFrame("GP9E"));
        ASSERT_TRUE(sim.play({"touch 8192 8192 3"})); // drawing mode: pressed at once
        ASSERT_EQ(daemon.waitRecords(3).size(), 3U);
        if (hangUp) {
            ASSERT_TRUE(sim.play({"hangup"}));
        } else {
            EXPECT_EQ(client.disconnect(0), 0U);
        }
        const auto cut = daemon.waitRecords(4);
        ASSERT_EQ(cut.size(), 4U);
        EXPECT_EQ(cut[3].flags, kLeftUp);
        EXPECT_EQ(cut[3].x, cut[2].x) << "released where the pointer is";
        EXPECT_EQ(cut[3].y, cut[2].y);

        if (hangUp) {
            ASSERT_TRUE(sim.play({"reconnect"}));
            EXPECT_EQ(client.disconnect(0), 0U);
        }
        EXPECT_EQ(client.reopen(0).status, 0U);
        ASSERT_TRUE(sim.waitFrame("GP9E", 2));
        ASSERT_TRUE(sim.play({"tap 8192 8192 2"}));
        const auto next = daemon.waitRecords(7);
        ASSERT_EQ(next.size(), 7U);
        EXPECT_EQ(next[4].flags, kLeftDown);
        EXPECT_EQ(next[6].flags, kLeftUp);
    }
}

// Run by systemd as a notify service, the daemon says READY=1 once its control socket serves
// and STOPPING=1 when it unloads.
TEST(DriverLifecycle, TellsSystemdWhenItServes) {
    const auto socketPath = makeTempDir("notify") / "notify.sock";
    UniqueFd listener(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{AF_UNIX, {}};
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    const timeval wait{20, 0};
    ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    auto receive = [&] {
        char text[64] = {};
        return std::string(text, std::max<ssize_t>(::recv(listener.get(), text, 63, 0), 0));
    };
    ::setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
    auto daemon = std::make_unique<Daemon>();
    ::unsetenv("NOTIFY_SOCKET");
    ASSERT_TRUE(daemon->ready());
    EXPECT_EQ(receive(), "READY=1");
    EXPECT_TRUE(Client().ok()) << "serving when it said so";
    daemon.reset();
    EXPECT_EQ(receive(), "STOPPING=1");
}

// After the daemon has stopped, registry.db alone holds what it wrote: a copy of that one
// file (no write-ahead log beside it) is a whole store.
TEST(DriverLifecycle, StoppedDaemonLeavesItsSettingsInTheDatabaseFile) {
    namespace fs = std::filesystem;
    {
        Sim sim("COM3");
        Daemon daemon;
        ASSERT_TRUE(sim.ok() && daemon.ready());
        Client client;
        ASSERT_TRUE(client.connect(2, 3));
        ASSERT_EQ(client.ioctl(IOCTL_RS232_SET_ROTATION, {2, 3}, 1).reply,
                  std::vector<std::uint8_t>{1});
    }
    const fs::path wal = stateDir() / "registry.db-wal";
    std::error_code ec;
    EXPECT_TRUE(!fs::exists(wal, ec) || fs::file_size(wal, ec) == 0);
    const fs::path copy = makeTempDir("backup");
    ASSERT_TRUE(fs::copy_file(stateDir() / "registry.db", copy / "registry.db", ec))
        << ec.message();
    const std::string original = stateDir().string();
    ::setenv("KVR_STATE_DIR", copy.c_str(), 1);
    reg::closeStore();
    const std::string device = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device2";
    std::uint32_t rotation = 0, port = 0;
    EXPECT_EQ(reg::queryDword(device, "Rotation", rotation), reg::Status::Ok);
    EXPECT_EQ(reg::queryDword(device, "COMPORT", port), reg::Status::Ok);
    reg::closeStore();
    ::setenv("KVR_STATE_DIR", original.c_str(), 1);
    EXPECT_EQ(rotation, 3U);
    EXPECT_EQ(port, 3U);
}

TEST(DriverUsbRole, UnitsComeAndGoWithTheirLines) {
    Daemon daemon(/*usb=*/true);
    ASSERT_TRUE(daemon.ready()) << daemon.process().stderrText();
    const std::string product = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr";
    std::uint32_t marker = 0;
    {
        Sim unit("usb1");
        ASSERT_TRUE(unit.ok());
        // Found by the once-a-second look, greeted like a serial controller.
        ASSERT_TRUE(unit.waitFrame("GP9E"));
        ASSERT_TRUE(waitUntil(
            [&] { return reg::queryDword(product, "USB_DEVICE1", marker) == reg::Status::Ok; }));
        EXPECT_EQ(marker, 1U);
        EXPECT_EQ(reg::keyExists(product + "\\USB\\Device1"), reg::Status::Ok);

        Client client("KvrUsbMgr");
        ASSERT_TRUE(client.ok());
        ASSERT_TRUE(unit.play({"tap 8192 8192 1"}));
        EXPECT_EQ(daemon.waitRecords(2).size(), 2U);

        // The double-click switch of the USB touch driver; four units only.
        auto set = client.ioctl(IOCTL_RS232_SET_DOUBLE_CLICK, {1, 1}, 1);
        EXPECT_EQ(set.status, 0U);
        auto get = client.ioctl(IOCTL_RS232_GET_DOUBLE_CLICK, {1}, 1);
        EXPECT_EQ(get.status, 0U);
        EXPECT_EQ(get.reply, std::vector<std::uint8_t>{1});
        EXPECT_EQ(client.ioctl(IOCTL_RS232_GET_ROTATION, {4}, 1).status, 0xC0000010U);

        // The unit's line hangs up: it is released.
        ASSERT_TRUE(unit.play({"hangup"}));
        ASSERT_TRUE(waitUntil([&] {
            return daemon.process().stderrText().find("unit 1: gone") != std::string::npos;
        }));
        ASSERT_TRUE(unit.play({"reconnect"}));
        // Plugged in again: connected again.
        ASSERT_TRUE(unit.waitFrame("Z", 2));
    }
}

} // namespace
} // namespace kvr::test::driver
