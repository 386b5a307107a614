// The touch service end to end: the driver daemon in both roles, panel A on serial unit 0 and
// panel B on USB unit 0 (emulated controllers), the touchsvc process, and the sound sink.

#include "platform/registry/registry.h"
#include "platform/service/service_control.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvr::test::ChildProcess;
using kvr::test::waitUntil;
using kvr::test::tsapi::Bench;
using kvr::test::tsapi::Client;
using kvr::test::tsapi::countFrames;
using kvr::test::tsapi::Sim;

constexpr const char* kServiceName = "LumarconTouch Service";
constexpr const char* kAppKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\KvrApp";
constexpr const char* kControllerKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr";
constexpr std::uint32_t kSetUpSound = 0x220020;
// The service's trace lines for a panel silenced and for the end of an access time-out.
const std::string kSilencedB = "Access: USB_DEVICE0 silenced";
const std::string kSwitchedOn = "Access: time-out, every controller on again";

// A short mono 16-bit wave file.
void writeWave(const fs::path& path) {
    const std::uint32_t rate = 8000, frames = 400, dataBytes = frames * 2;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4), u32(36 + dataBytes), out.write("WAVEfmt ", 8);
    u32(16), u16(1), u16(1), u32(rate), u32(rate * 2), u16(2), u16(16);
    out.write("data", 4), u32(dataBytes);
    for (std::uint32_t i = 0; i < frames; ++i)
        u16(static_cast<std::uint16_t>((i % 40) * 800));
}

void setApp(const char* name, std::uint32_t value) {
    ASSERT_EQ(kvr::reg::createKey(kAppKey), kvr::reg::Status::Ok);
    ASSERT_EQ(kvr::reg::setDword(kAppKey, name, value), kvr::reg::Status::Ok);
}

Bench::Options bothRoles() {
    Bench::Options options;
    options.usb = true;
    return options;
}

class TouchService : public ::testing::Test {
protected:
    void SetUp() override {
        sink_ = kvr::test::makeTempDir("sink");
        ::setenv("KVR_SOUND_SINK", sink_.c_str(), 1);
        ASSERT_TRUE(bench_.ready()) << bench_.diagnostics();
        a_ = bench_.addSerial(0, 1);
        b_ = bench_.addUsb(0);
        ASSERT_TRUE(a_ && b_) << bench_.diagnostics();
        // Both drivers set the touch-up event too (the touch-down one is on by default).
        EXPECT_EQ(Client("KvrRs232D").ioctl(kSetUpSound, {0, 1}, 1).status, 0u);
        EXPECT_EQ(Client("KvrUsbMgr").ioctl(kSetUpSound, {0, 1}, 1).status, 0u);
    }
    void TearDown() override {
        if (HasFailure() && a_ && b_) {
            std::string frames;
            for (Sim* sim : {a_, b_}) {
                frames += sim == a_ ? "\nA:" : "\nB:";
                for (const auto& f : sim->frameTexts())
                    frames += " " + f;
            }
            ADD_FAILURE() << "frames:" << frames << "\nservice:\n" << log() << bench_.diagnostics();
        }
        if (service_) service_->stop();
    }

    // Starts touchsvc and waits until the watcher has set up both panels.
    void startService() {
        const auto msA = countFrames(*a_, "MS"), msB = countFrames(*b_, "MS");
        const auto usbStart = countFrames(*b_, "iH1");
        service_ = std::make_unique<ChildProcess>(kvr::test::program("touchsvc"),
                                                  std::vector<std::string>{});
        ASSERT_TRUE(waitUntil([&] {
            return countFrames(*a_, "MS") > msA && countFrames(*b_, "MS") > msB &&
                   countFrames(*b_, "iH1") > usbStart;
        })) << log();
        // The USB driver's display read restarts B; the driver switches it on again itself
        // once it announces the restart. Touches start after that.
        ASSERT_TRUE(waitUntil([&] {
            return bench_.usbDaemon()->process().stderrText().find("restarted") !=
                   std::string::npos;
        })) << bench_.diagnostics();
    }
    std::string log() const { return service_ ? service_->stderrText() : std::string(); }
    std::size_t occurrences(const std::string& line) const {
        const std::string text = log();
        std::size_t n = 0;
        for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
            ++n;
        return n;
    }
    // Waits until the service's trace holds `line` `count` times.
    bool waitLog(const std::string& line, std::size_t count) {
        const bool ok = waitUntil([&] { return occurrences(line) >= count; });
        EXPECT_TRUE(ok) << "no " << count << " x \"" << line << "\"";
        return ok;
    }

    // The sink's sounds so far, as "beep-2000Hz-20ms" or "wave-DownSound", in playing order.
    std::vector<std::string> sounds() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(sink_, ec)) {
            const std::string n = e.path().filename().string();
            if (n.empty() || n[0] == '.') continue;
            names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        for (auto& n : names)
            n = n.substr(n.find('-') + 1, n.size() - n.find('-') - 5);
        return names;
    }
    bool waitSounds(std::size_t count) {
        return waitUntil([&] { return sounds().size() >= count; });
    }
    void touch(Sim& sim) { ASSERT_TRUE(sim.play({"touch 50% 50% 5"})); }
    void lift(Sim& sim) { ASSERT_TRUE(sim.play({"lift"})); }
    // One touch and lift, waiting for both sounds.
    void tapAndHear(Sim& sim) {
        const auto heard = sounds().size();
        touch(sim);
        ASSERT_TRUE(waitSounds(heard + 1)) << log();
        lift(sim);
        ASSERT_TRUE(waitSounds(heard + 2)) << log();
    }
    void control(std::uint32_t code) {
        EXPECT_TRUE(kvr::svc::controlService(kServiceName, code, 10s).delivered()) << code;
    }

    Bench bench_{bothRoles()};
    Sim* a_ = nullptr;
    Sim* b_ = nullptr;
    fs::path sink_;
    std::unique_ptr<ChildProcess> service_;
};

// Touching A silences B (not A) and locks access: a second touch sends no second "MI". After
// the last lift and the time-out with no touch, both panels get their report mode again.
TEST_F(TouchService, TouchSilencesTheOtherPanelUntilTheTimeOut) {
    setApp("TimeOut", 4000);
    startService();
    const auto miA = countFrames(*a_, "MI"), miB = countFrames(*b_, "MI");

    touch(*a_);
    ASSERT_TRUE(waitSounds(1)) << log();
    EXPECT_EQ(sounds()[0], "beep-2000Hz-20ms");
    ASSERT_TRUE(waitLog(kSilencedB, 1));
    const auto miAfterLock = countFrames(*b_, "MI");
    EXPECT_GT(miAfterLock, miB);
    lift(*a_);
    ASSERT_TRUE(waitSounds(2)) << log();
    EXPECT_EQ(sounds()[1], "beep-1000Hz-20ms");

    // Again at once, within the time-out: the lock holds, nobody is silenced again.
    const auto msA = countFrames(*a_, "MS"), msB = countFrames(*b_, "MS");
    touch(*a_);
    ASSERT_TRUE(waitSounds(3)) << log();
    const auto lastLift = std::chrono::steady_clock::now();
    lift(*a_);
    ASSERT_TRUE(waitSounds(4)) << log();
    ASSERT_TRUE(waitLog(kSwitchedOn, 1));
    const auto quiet = std::chrono::steady_clock::now() - lastLift;
    EXPECT_GE(quiet, 4000ms) << "switched on before the time-out";
    EXPECT_GT(countFrames(*a_, "MS"), msA);
    EXPECT_GT(countFrames(*b_, "MS"), msB);
    EXPECT_EQ(countFrames(*b_, "MI"), miAfterLock);
    EXPECT_EQ(countFrames(*a_, "MI"), miA);
    EXPECT_EQ(occurrences(kSilencedB), 1u);

    // The next touch finds access open again and silences B anew.
    touch(*a_);
    ASSERT_TRUE(waitLog(kSilencedB, 2));
    EXPECT_GT(countFrames(*b_, "MI"), miAfterLock);
    EXPECT_EQ(countFrames(*a_, "MI"), miA);
    // Only the last lift's time-out switched the panels on.
    EXPECT_EQ(occurrences(kSwitchedOn), 1u);
}

// The sounds by the settings at start: beeps at f and f/2 (at least 37 Hz), or the two waves.
struct SoundCase {
    const char* name;
    std::uint32_t soundType, freqHz, durationMs; // 0: value left out
    const char* down;
    const char* up;
};
void PrintTo(const SoundCase& c, std::ostream* os) {
    *os << c.name;
}
class TouchSounds : public TouchService, public ::testing::WithParamInterface<SoundCase> {};

TEST_P(TouchSounds, DownAndUp) {
    const SoundCase& c = GetParam();
    if (c.soundType) setApp("SoundType", c.soundType);
    if (c.freqHz) setApp("BuzzerFreq", c.freqHz);
    if (c.durationMs) setApp("BuzzerDuration", c.durationMs);
    writeWave(kvr::test::stateDir() / "DownSound.wav");
    writeWave(kvr::test::stateDir() / "UpSound.wav");
    startService();
    tapAndHear(*a_);
    tapAndHear(*a_); // a touch while access is locked sounds all the same
    EXPECT_EQ(sounds(), (std::vector<std::string>{c.down, c.up, c.down, c.up})) << log();
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TouchSounds,
    ::testing::Values(SoundCase{"Defaults", 0, 0, 0, "beep-2000Hz-20ms", "beep-1000Hz-20ms"},
                      SoundCase{"Beeps", 1, 3000, 50, "beep-3000Hz-50ms", "beep-1500Hz-50ms"},
                      SoundCase{"Waves", 2, 3000, 50, "wave-DownSound", "wave-UpSound"},
                      SoundCase{"AnyOtherTypeIsWaves", 7, 0, 0, "wave-DownSound", "wave-UpSound"},
                      SoundCase{"OutOfRangeAtStartAreDefaults", 1, 10, 2000, "beep-2000Hz-20ms",
                                "beep-1000Hz-20ms"},
                      SoundCase{"UpBeepNotBelow37Hz", 1, 60, 5, "beep-60Hz-5ms", "beep-37Hz-5ms"}),
    [](const auto& info) { return std::string(info.param.name); });

// The reload controls take over their own value only; out-of-range values become 20000 Hz and
// 10 ms. 222/223 switch the sound type and store it. 128 saves the wake count.
TEST_F(TouchService, ReloadControlsTakeOverTheirValueOnly) {
    setApp("BuzzerFreq", 3000);
    setApp("BuzzerDuration", 50);
    setApp("TimeOut", 600000);
    writeWave(kvr::test::stateDir() / "DownSound.wav");
    writeWave(kvr::test::stateDir() / "UpSound.wav");
    startService();

    setApp("BuzzerFreq", 10);
    control(224);
    tapAndHear(*a_);
    setApp("BuzzerDuration", 2000);
    control(225);
    tapAndHear(*a_);
    setApp("BuzzerFreq", 4000); // not taken over by the time-out control
    setApp("TimeOut", 300);
    control(230);
    control(223);
    tapAndHear(*a_);
    control(222);
    tapAndHear(*a_);
    EXPECT_EQ(sounds(),
              (std::vector<std::string>{"beep-20000Hz-50ms", "beep-10000Hz-50ms",
                                        "beep-20000Hz-10ms", "beep-10000Hz-10ms", "wave-DownSound",
                                        "wave-UpSound", "beep-20000Hz-10ms", "beep-10000Hz-10ms"}))
        << log();
    std::uint32_t type = 0;
    EXPECT_EQ(kvr::reg::queryDword(kAppKey, "SoundType", type), kvr::reg::Status::Ok);
    EXPECT_EQ(type, 1u);

    // The 300 ms time-out is in force: B is switched on again (it would wait ten minutes).
    const auto msB = countFrames(*b_, "MS");
    EXPECT_TRUE(waitUntil([&] { return countFrames(*b_, "MS") > msB; })) << log();

    control(128);
    std::uint32_t wakes = 0;
    EXPECT_EQ(kvr::reg::queryDword(std::string("HKLM\\SYSTEM\\CurrentControlSet\\Services\\") +
                                       kServiceName + "\\Status",
                                   "Current", wakes),
              kvr::reg::Status::Ok);
    EXPECT_GE(wakes, 8u); // at least the eight touch sounds
}

// A controller whose marker goes away is forgotten; when it is listed again it is set up again
// (events, display table, report mode) in the watcher's next pass. Markers of units no driver
// has are passed over.
TEST_F(TouchService, ControllerListedAgainIsSetUpAgain) {
    setApp("TimeOut", 200);
    for (const char* stray : {"RS232_DEVICE12", "USB_DEVICE4", "RS232_DEVICE"})
        ASSERT_EQ(kvr::reg::setDword(kControllerKey, stray, 1), kvr::reg::Status::Ok);
    startService();
    for (const char* marker : {"RS232_DEVICE0", "USB_DEVICE0"}) {
        Sim& sim = std::string(marker) == "RS232_DEVICE0" ? *a_ : *b_;
        ASSERT_EQ(kvr::reg::deleteValue(kControllerKey, marker), kvr::reg::Status::Ok);
        ASSERT_TRUE(waitUntil([&] {
            return log().find(std::string("Controller ") + marker + " is gone") !=
                   std::string::npos;
        })) << log();
        const auto ms = countFrames(sim, "MS");
        const auto back = std::chrono::steady_clock::now();
        ASSERT_EQ(kvr::reg::setDword(kControllerKey, marker, 1), kvr::reg::Status::Ok);
        ASSERT_TRUE(waitUntil([&] { return countFrames(sim, "MS") > ms; })) << log();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - back);
        RecordProperty(std::string(marker) + "_setup_ms", static_cast<int>(took.count()));
    }
    // Set up again means touches sound again (each touch silences the other panel until the
    // short time-out has passed).
    const auto msA = countFrames(*a_, "MS");
    tapAndHear(*b_);
    ASSERT_TRUE(waitUntil([&] { return countFrames(*a_, "MS") > msA; })) << log();
    tapAndHear(*a_);
}

// A restarted service registers its touch events anew (the driver let go of the old
// service's when its connection ended), so a tap sounds again.
TEST_F(TouchService, RestartedServiceSoundsAgain) {
    startService();
    tapAndHear(*a_);
    ASSERT_TRUE(service_->signal(SIGTERM));
    ASSERT_TRUE(service_->wait(20s).has_value()) << log();
    startService();
    const std::size_t before = sounds().size();
    tapAndHear(*a_);
    EXPECT_EQ(sounds()[before], "beep-2000Hz-20ms") << log();
}

// The serial driver crashes and is started again: the service sees its connection end and
// the control socket come back, connects the configured port and sets the controller up
// again; taps move the pointer and sound.
TEST_F(TouchService, DriverKilledAndStartedAgainIsSetUpAgain) {
    startService();
    const auto greetings = countFrames(*a_, "GP9E");
    const auto ms = countFrames(*a_, "MS");
    ASSERT_TRUE(bench_.restartSerialDaemon(SIGKILL)) << bench_.diagnostics();
    ASSERT_TRUE(waitUntil([&] {
        return countFrames(*a_, "GP9E") > greetings && countFrames(*a_, "MS") > ms;
    })) << log();
    tapAndHear(*a_);
    EXPECT_GE(bench_.serialDaemon()->waitRecords(2).size(), 2U);
}

// A system shutdown (SIGTERM while the shutdown flag is up): "MI" to every serial controller,
// none to USB ones, every marker deleted, and the process ends.
TEST_F(TouchService, ShutdownSilencesSerialControllersAndDeletesMarkers) {
    startService();
    const auto miA = countFrames(*a_, "MI"), miB = countFrames(*b_, "MI");
    std::ofstream(kvr::test::runtimeDir() / "shutdown") << "";
    ASSERT_TRUE(service_->signal(SIGTERM));
    ASSERT_TRUE(service_->wait(20s).has_value()) << log();
    // One "MI" exchange: written again while its acknowledgement has not come (ten tries).
    EXPECT_GE(countFrames(*a_, "MI"), miA + 1) << log();
    EXPECT_LE(countFrames(*a_, "MI"), miA + 10) << log();
    EXPECT_EQ(countFrames(*b_, "MI"), miB);
    std::vector<kvr::reg::Value> values;
    ASSERT_EQ(kvr::reg::enumValues(kControllerKey, values), kvr::reg::Status::Ok);
    for (const auto& v : values)
        EXPECT_TRUE(v.name.rfind("RS232_DEVICE", 0) != 0 && v.name.rfind("USB_DEVICE", 0) != 0)
            << v.name;
    EXPECT_NE(log().find("KVRUsbService::OnShutdown"), std::string::npos);
}

// A stop while a long access time-out runs ends the service at once: the time-out does not
// keep the process alive and dies with it.
TEST_F(TouchService, StopEndsAPendingTimeOut) {
    setApp("TimeOut", 600000);
    startService();
    tapAndHear(*a_);
    // The time-out would switch both panels on. (A is the one to watch: B also gets "MS" from
    // its driver when it announces the restart its display read caused, and the second of
    // those may reach it only now on a loaded machine.)
    const auto msA = countFrames(*a_, "MS");
    ASSERT_TRUE(service_->signal(SIGTERM));
    ASSERT_TRUE(service_->wait(20s).has_value()) << log();
    EXPECT_EQ(sounds().back(), "beep-20000Hz-300ms");
    EXPECT_EQ(countFrames(*a_, "MS"), msA);
    EXPECT_EQ(occurrences(kSwitchedOn), 0u);
}

// The service starts before the serial driver serves: it waits for the control socket and,
// once the driver is there, connects the configured port and sets the controller up.
TEST(TouchServiceStart, BeforeTheDriverConnectsTheConfiguredPortOnceItServes) {
    Bench::Options noDriver;
    noDriver.serial = false;
    Bench bench(noDriver);
    Sim* sim = bench.addSerial(0, 1, Sim::defaultProfile(), /*connect=*/false);
    ASSERT_TRUE(sim);
    const char* key = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device0";
    ASSERT_EQ(kvr::reg::createKey(key), kvr::reg::Status::Ok);
    ASSERT_EQ(kvr::reg::setDword(key, "COMPORT", 1), kvr::reg::Status::Ok);
    ChildProcess service(kvr::test::program("touchsvc"), {});
    ASSERT_TRUE(waitUntil([&] {
        return service.stderrText().find("Controller watcher started") != std::string::npos;
    })) << service.stderrText();
    ASSERT_TRUE(bench.restartSerialDaemon(SIGTERM)) << bench.diagnostics();
    ASSERT_TRUE(sim->waitFrame("GP9E")) << service.stderrText();
    ASSERT_TRUE(sim->waitFrame("MS")) << service.stderrText();
    ASSERT_TRUE(sim->play({"tap 50% 50% 1"}));
    EXPECT_GE(bench.serialDaemon()->waitRecords(2).size(), 2U);
    service.stop();
}

// A serial unit with a configured COM port that the driver has not been given yet is connected
// at start; one the driver already serves is left alone.
TEST_F(TouchService, ConfiguredPortIsConnectedAtStart) {
    Sim* c = bench_.addSerial(1, 2, Sim::defaultProfile(), /*connect=*/false);
    ASSERT_TRUE(c);
    const char* key = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device1";
    ASSERT_EQ(kvr::reg::createKey(key), kvr::reg::Status::Ok);
    ASSERT_EQ(kvr::reg::setDword(key, "COMPORT", 2), kvr::reg::Status::Ok);
    const auto greetingsA = countFrames(*a_, "GP9E");
    startService();
    ASSERT_TRUE(waitUntil([&] { return countFrames(*c, "MS") > 0; })) << log();
    EXPECT_EQ(countFrames(*a_, "GP9E"), greetingsA); // A was not connected a second time
}

} // namespace
