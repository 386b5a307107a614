// portscan as installers run it: the real program against the driver daemon and emulated
// controllers on dosdevices ports.

#include "platform/desktop/atoms.h"
#include "platform/registry/registry.h"
#include "platform/serial/port.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"
#include "tests/unit/serial/pty.h"
#include "utilities/portscan/port_list.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>

namespace {

namespace fs = std::filesystem;
using kvr::test::ChildProcess;
using kvr::test::tsapi::Bench;
using kvr::test::tsapi::countFrames;

const std::string kDevicePrefix = R"(HKLM\SYSTEM\CurrentControlSet\Control\Kvr\RS232\Device)";

// dosdevices/comN -> target.
void linkCom(unsigned n, const fs::path& target) {
    fs::create_directories(kvr::test::stateDir() / "dosdevices");
    fs::create_symlink(target, kvr::test::stateDir() / "dosdevices" / ("com" + std::to_string(n)));
}

// Links every number from `from` to 8 nowhere: those numbers stay taken, so neither the
// machine's UARTs nor its USB adapters join the ports under test.
void holdNumbersFrom(unsigned from) {
    for (unsigned n = from; n <= 8; ++n)
        linkCom(n, "/nonexistent");
}

std::uint32_t comPortValue(int device) {
    std::uint32_t v = 99;
    kvr::reg::queryDword(kDevicePrefix + std::to_string(device), "COMPORT", v);
    return v;
}

TEST(Portscan, FindsTheControllersOnComOneAndThreeAndHandsThemToTheDriver) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    auto* com1 = bench.addSerial(0, 1, kvr::test::tsapi::Sim::defaultProfile(), false);
    auto* com3 = bench.addSerial(1, 3, kvr::test::tsapi::Sim::defaultProfile(), false);
    ASSERT_TRUE(com1 && com3);
    // COM2: a port another program holds; COM4: a map entry that is not a tty.
    auto busy = kvr::test::Pty::open();
    ASSERT_TRUE(busy.valid());
    linkCom(2, busy.slavePath);
    kvr::UniqueFd holder(::open(busy.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    linkCom(4, "/dev/null");
    holdNumbersFrom(5);
    // A controller configured on a port that is gone (left as it is), a device key in button
    // mode, and a stale marker.
    ASSERT_EQ(kvr::reg::createKey(kDevicePrefix + "1"), kvr::reg::Status::Ok);
    kvr::reg::setDword(kDevicePrefix + "1", "COMPORT", 7);
    ASSERT_EQ(kvr::reg::createKey(kDevicePrefix + "2"), kvr::reg::Status::Ok);
    kvr::reg::setDword(kDevicePrefix + "2", "ReportMode", 3);
    kvr::reg::setDword(kvr::test::tsapi::kControllerKey, "RS232_DEVICE5", 1);

    auto run = kvr::test::runProgram(kvr::test::program("portscan"), {"-u"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The held port is no "no device": the report says who holds it (this test).
    const std::string heldBy = "in use by " + kvr::serial::portHolder(busy.slavePath);
    EXPECT_NE(heldBy, "in use by ");
    EXPECT_EQ(run.out, "COM1: found a device.\r\nCOM2: " + heldBy +
                           ".\r\nCOM3: found a device.\r\nCOM4: no device.\r\n"
                           "COM7: not present (its controller is left as it is).\r\n"
                           "Finished scanning\r\n\r\nSelect close(x) to exit the program.\r\n");
    EXPECT_NE(run.err.find("COM2: " + heldBy), std::string::npos) << run.err;
    EXPECT_EQ(comPortValue(0), 1u);
    EXPECT_EQ(comPortValue(1), 7u) << "a controller on a port that is gone keeps its port";
    EXPECT_EQ(comPortValue(2), 3u);
    kvr::test::driver::Client driver;
    EXPECT_EQ(driver.currentComPort(0), 1);
    EXPECT_EQ(driver.currentComPort(2), 3);
    // Probed, then given the report-mode command for the driver's mode of its device.
    EXPECT_GE(countFrames(*com1, "R"), 1u);
    EXPECT_TRUE(com1->waitFrame("MS"));
    EXPECT_TRUE(com3->waitFrame("MP"));
    EXPECT_TRUE(busy.receive(1, std::chrono::milliseconds(100)).empty())
        << "a held port was probed";
    std::uint32_t marker = 0;
    EXPECT_EQ(kvr::reg::queryDword(kvr::test::tsapi::kControllerKey, "RS232_DEVICE5", marker),
              kvr::reg::Status::NotFound);
}

TEST(Portscan, OneCopyAtATimeAndOnlyComOneToEightListed) {
    auto held = kvr::desktop::GlobalAtom::add("portscan");
    ASSERT_TRUE(held);
    auto run = kvr::test::runProgram(kvr::test::program("portscan"), {"-u"});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_TRUE(run.out.empty());

    // A map of COM1, COM12 and LPT1 (and other names) lists only COM1..COM8.
    for (const auto& [data, number] : {std::pair{"COM1", 1u},
                                       {"COM8", 8u},
                                       {"COM12", 0u},
                                       {"LPT1", 0u},
                                       {"COM9", 0u},
                                       {"COM0", 0u},
                                       {"COMx", 0u}}) {
        const auto port = kvr::portscan::listedPort(data);
        EXPECT_EQ(port ? port->number : 0u, number) << data;
    }
}

// Closing the window mid-probe stops the scan: the program ends, and the port it was probing
// has the line settings it had before.
TEST(Portscan, ClosedWhileProbingLeavesThePortAsItWas) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    auto pty = kvr::test::Pty::open();
    ASSERT_TRUE(pty.valid());
    linkCom(1, pty.slavePath);
    holdNumbersFrom(2);
    kvr::UniqueFd slave(::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios before{};
    ASSERT_EQ(::tcgetattr(slave.get(), &before), 0);
    ::cfsetspeed(&before, B19200);
    before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB;
    ASSERT_EQ(::tcsetattr(slave.get(), TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(slave.get(), &before), 0);

    ChildProcess portscan(kvr::test::program("portscan"), {});
    ASSERT_EQ(pty.receive(3), (std::vector<std::uint8_t>{0x01, 'R', 0x0D}));
    portscan.signal(SIGTERM);
    const auto status = portscan.wait();
    ASSERT_TRUE(status.has_value()) << "portscan did not end";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << portscan.stderrText();
    termios after{};
    ASSERT_EQ(::tcgetattr(slave.get(), &after), 0);
    EXPECT_EQ(::cfgetispeed(&after), B19200);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

} // namespace
