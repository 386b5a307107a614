// A serial adapter plugged in again: "kvrctl replug TTY" (run by udev) brings back the
// controller that was connected on that line, and connects a unit whose port is only
// configured, against the real daemon and emulated controllers.

#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>

namespace kvr::test::tsapi {
namespace {

std::string link(const char* name) {
    return (stateDir() / "dosdevices" / name).string();
}

RunResult replug(const std::string& tty) {
    return runProgram(program("kvrctl"), {"replug", tty});
}

TEST(Replug, ControllersOnTheNewLineComeBack) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* plugged = bench.addSerial(0, 3);
    Sim* configured = bench.addSerial(1, 4, Sim::defaultProfile(), /*connect=*/false);
    ASSERT_TRUE(plugged && configured) << bench.diagnostics();
    const char* key = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device1";
    ASSERT_EQ(reg::createKey(key), reg::Status::Ok);
    ASSERT_EQ(reg::setDword(key, "COMPORT", 4), reg::Status::Ok);

    // The adapter goes away and comes back: a new line under the same name. The driver still
    // holds the dead line.
    ASSERT_TRUE(plugged->play({"hangup"}));
    ASSERT_TRUE(waitUntil([&] {
        return bench.serialDaemon()->process().stderrText().find("device 0: line hung up") !=
               std::string::npos;
    }));
    ASSERT_TRUE(plugged->play({"reconnect"}));

    // While another program holds the new line the driver cannot have it: said, and exit 1.
    {
        const UniqueFd holder(::open(link("com3").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        ASSERT_TRUE(holder && ::flock(holder.get(), LOCK_EX | LOCK_NB) == 0);
        const RunResult held = replug(link("com3"));
        EXPECT_EQ(held.exitCode, 1) << held.out;
        EXPECT_NE(held.out.find("RS232_DEVICE0 on COM3: could not be connected again: the line "
                                "is in use by another program"),
                  std::string::npos)
            << held.out;
    }
    const std::size_t before = plugged->frameTexts().size();

    const RunResult run = replug(link("com3"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("RS232_DEVICE0 on COM3: connected again"), std::string::npos) << run.out;
    // Connected afresh (greeting), then told its report mode again; touches reach the pointer.
    const auto frames = framesSince(*plugged, before);
    const auto greeting = std::find(frames.begin(), frames.end(), "GP9E");
    ASSERT_NE(greeting, frames.end());
    EXPECT_TRUE(std::find_if(greeting, frames.end(), [](const std::string& f) {
                    return f == "MS" || f == "MP";
                }) != frames.end());
    const std::size_t records = bench.serialDaemon()->records().size();
    ASSERT_TRUE(plugged->play({"tap 8192 8192 1"}));
    EXPECT_GT(bench.serialDaemon()->waitRecords(records + 2).size(), records);

    // The unit only configured on COM4 is connected when its line appears.
    const RunResult second = replug(link("com4"));
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_NE(second.out.find("RS232_DEVICE1 on COM4: connected"), std::string::npos);
    EXPECT_TRUE(configured->waitFrame("GP9E"));

    // A line that is no COM port changes nothing.
    const RunResult none = replug("/dev/null");
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_NE(none.out.find("is no COM port"), std::string::npos);
}

} // namespace
} // namespace kvr::test::tsapi
