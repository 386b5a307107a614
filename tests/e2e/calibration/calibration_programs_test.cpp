// cal3pt and linear as programs: every exit code once, with the status the process leaves
// with, and one full calibration under Xvfb where the driver's XTest sink turns the save tap
// into real pointer input for the window.

#include "platform/ipc/control_codes.h"
#include "platform/registry/registry.h"
#include "platform/sound/sound.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"
#include "tests/support/xvfb.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <stdlib.h>
#include <sys/wait.h>

namespace {

using kvr::test::ChildProcess;
using kvr::test::program;
using kvr::test::waitUntil;
using kvr::test::tsapi::Bench;
using kvr::test::tsapi::Client;
using kvr::test::tsapi::Sim;

constexpr const char* kDeviceKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device0";

int exitStatusOf(std::optional<int> wait) {
    return wait && WIFEXITED(*wait) ? WEXITSTATUS(*wait) : -1;
}

void setProgramEnvironment(const char* displays) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("KVR_MESSAGE_ANSWERS", "ok", 1);
    ::setenv("KVR_CONFIG_DIR", kvr::test::makeTempDir("config").c_str(), 1);
    ::setenv("KVR_DISPLAYS", displays, 1);
}

TEST(CalibrationPrograms, EveryExitCode) {
    enum class Needs { Nothing, Marker, Controller, MuteController };
    enum class Change { None, ShortMessageFile, NoDisplay, NoBPY };
    struct Case {
        const char* program;
        const char* argument;
        Needs needs;
        Change change;
        int status;
    } cases[] = {
        {"cal3pt", "DEVICE0", Needs::Nothing, Change::None, 255},      // -1 no device word
        {"cal3pt", "RS232_DEVICE1", Needs::Marker, Change::None, 253}, // -3 no such one
        {"cal3pt", "RS232_DEVICE0", Needs::Marker, Change::None, 252}, // -4 no driver
        {"cal3pt", "RS232_DEVICE0", Needs::Marker, Change::ShortMessageFile, 246}, // -10
        {"cal3pt", "RS232_DEVICE0", Needs::Controller, Change::NoDisplay, 251},    // -5
        {"cal3pt", "RS232_DEVICE0", Needs::Controller, Change::NoBPY, 254},        // -2
        {"linear", "RS232_DEVICE0", Needs::Controller, Change::None, 255},         // -1 no grid
        {"linear", "RS232_DEVICE0 -9", Needs::MuteController, Change::None, 236},  // -20 no CR
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.argument);
        setProgramEnvironment("D:0,0,1024,768");
        ASSERT_TRUE(kvr::test::tsapi::clearMarkers());
        std::unique_ptr<Bench> bench;
        if (c.needs == Needs::Marker) {
            ASSERT_TRUE(kvr::test::tsapi::writeMarkers({"RS232_DEVICE0"}));
        } else if (c.needs != Needs::Nothing) {
            bench = std::make_unique<Bench>();
            ASSERT_TRUE(bench->ready()) << bench->diagnostics();
            const char* profile = c.needs == Needs::MuteController ? "mute" : "nvlt3000-e";
            ASSERT_NE(bench->addSerial(0, 1, Sim::profile(profile)), nullptr);
        }
        if (c.change == Change::ShortMessageFile)
            std::ofstream(std::string(::getenv("KVR_CONFIG_DIR")) + "/msg_3p_calib.txt")
                << "3\none\ntwo\nthree\nfour\nfive\n";
        if (c.change == Change::NoDisplay) ::setenv("KVR_DISPLAYS", "none", 1);
        if (c.change == Change::NoBPY) kvr::reg::deleteValue(kDeviceKey, "BPY");
        std::vector<std::string> args;
        std::istringstream words(c.argument);
        for (std::string w; words >> w;)
            args.push_back(w);
        const auto result = kvr::test::runProgram(program(c.program), args);
        EXPECT_EQ(result.exitCode, c.status) << result.err;
        const bool boxShown =
            result.err.find("messagebox: Error: message.txt format error") != std::string::npos;
        EXPECT_EQ(boxShown, c.change == Change::ShortMessageFile) << result.err;
    }
}

// The real pointer path: touches on the emulated panel, the capture in the driver, the save
// tap delivered through XTest to the window on a private X server (and a second copy meanwhile).
TEST(CalibrationPrograms, SaveTapArrivesAsRealPointerInputUnderXvfb) {
    if (!kvr::test::XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";
    kvr::test::XvfbServer x("1024x768x24");
    ASSERT_TRUE(x.ok()) << x.log();
    ::setenv("DISPLAY", x.name().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("KVR_CONFIG_DIR", kvr::test::makeTempDir("config").c_str(), 1);
    ::unsetenv("KVR_DISPLAYS"); // the X server's own monitor

    ChildProcess daemon(program("KvrRs232"),
                        {"--foreground", "--pointer=xtest", "--log-level=debug"});
    ASSERT_TRUE(waitUntil(
        [] { return std::filesystem::exists(kvr::test::runtimeDir() / "dev" / "KvrRs232D"); }));
    const auto profile = Sim::profile("nvlt3000-e");
    Sim sim("COM1", profile);
    ASSERT_TRUE(sim.ok());
    Client client;
    // Identified in time, or its E packets would not be read.
    ASSERT_TRUE(kvr::test::driver::connectUntilGreeted(daemon, client, 0, profile,
                                                       [&] { return client.connect(0, 1); }));

    // The program sounds the asterisk at each lift it takes a point on.
    const auto sounds = kvr::test::makeTempDir("sounds");
    ::setenv("KVR_SOUND_SINK", sounds.c_str(), 1);
    const std::string asterisk =
        "-message-" +
        std::to_string(kvr::sound::messageTone(kvr::sound::kMessageBeepAsterisk).freqHz) + "Hz-";
    const auto pointsTaken = [&] {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(sounds))
            n += entry.path().filename().string().find(asterisk) != std::string::npos ? 1 : 0;
        return n;
    };

    ChildProcess cal3pt(program("cal3pt"), {"RS232_DEVICE0"});
    // Touches wait for the start-up (drawing mode set last): a touch that began before the
    // capture was armed would hold the button down elsewhere. The mode exchange is over once
    // the mode is stored ("PL"), or after four attempts whose replies all came late (a loaded
    // machine).
    ASSERT_TRUE(waitUntil([&] {
        return kvr::test::tsapi::countFrames(sim, "PL") > 0 ||
               kvr::test::tsapi::countFrames(sim, "MS") >= 4;
    }));
    const auto second = kvr::test::runProgram(program("cal3pt"), {"RS232_DEVICE0"});
    EXPECT_EQ(second.exitCode, 226) << second.err; // -30: one copy at a time
    // The driver holds a captured point until the program has taken it and armed the next.
    const auto pointHeld = [&] {
        return client.ioctl(kvr::control::IOCTL_RS232_GET_3P_CAL_DATA, {0}, 8).reply.size() == 8;
    };
    const std::vector<std::pair<int, int>> raw = {{130, 120}, {3950, 3900}, {3940, 140}};
    for (std::size_t k = 0; k < raw.size(); ++k) {
        const auto [rx, ry] = raw[k];
        ASSERT_TRUE(sim.play({"tap " + std::to_string(rx) + " " + std::to_string(ry) + " 40"}));
        ASSERT_TRUE(waitUntil([&] { return pointsTaken() > k && !pointHeld(); }))
            << cal3pt.stderrText();
    }
    ASSERT_TRUE(sim.play({"tap 50% 50% 20"}));
    EXPECT_EQ(exitStatusOf(cal3pt.wait()), 0) << cal3pt.stderrText();
    const char* names[] = {"CP1X", "CP1Y", "CP2X", "CP2Y", "CP3X", "CP3Y"};
    for (int i = 0; i < 6; ++i) {
        std::uint32_t v = 0;
        kvr::reg::queryDword(kDeviceKey, names[i], v);
        EXPECT_EQ(int(v), i % 2 ? raw[i / 2].second : raw[i / 2].first) << names[i];
    }
}

} // namespace
