// Application settings exports: the setters' ranges and the values they leave in the
// application key, the service controls they send (to a stand-in service, and to none), the
// beeps as measured from the sound sink, and the manual right-click program RClick started,
// found, closed and started again from the start-up list.

#include "platform/desktop/spawn.h"
#include "platform/desktop/windows.h"
#include "platform/ipc/event.h"
#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"
#include "tests/unit/service/fake_service.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sndfile.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kvr::test::FakeService;
using namespace std::chrono_literals;

constexpr const char* kAppKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\KvrApp";
constexpr const char* kRunKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kServiceName = "LumarconTouch Service";

std::optional<uint32_t> appDword(const char* name) {
    uint32_t v = 0;
    if (kvr::reg::queryDword(kAppKey, name, v) != kvr::reg::Status::Ok) return std::nullopt;
    return v;
}

class AppSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(kvr::reg::createKey(kAppKey), kvr::reg::Status::Ok); }
};

// ---- numeric setters -----------------------------------------------------------------------

struct SetterCase {
    const char* value;
    int32_t (*set)(uint32_t);
    uint32_t (*get)();
    uint32_t control;
    std::vector<uint32_t> accepted;
    std::vector<uint32_t> refused;
};

const std::vector<SetterCase>& setterCases() {
    static const std::vector<SetterCase> cases = {
        {"BuzzerFreq",
         Set_BuzzerFreq,
         Get_BuzzerFreq,
         224,
         {37, 2000, 32767},
         {0, 36, 32768, 0xFFFFFFFFu}},
        {"BuzzerDuration",
         Set_BuzzerDuration,
         Get_BuzzerDuration,
         225,
         {5, 20, 1000},
         {0, 4, 1001, 0xFFFFFFFFu}},
        {"TimeOut",
         Set_Touch_Access_Timeout,
         Touch_Access_Timeout,
         230,
         {500, 3000, 10000},
         {0, 499, 10001, 0xFFFFFFFFu /* -1 */}},
    };
    return cases;
}

TEST_F(AppSettings, SettersKeepTheirRangesWriteTheValueAndTellTheService) {
    FakeService service(kServiceName, FakeService::running());
    ASSERT_TRUE(service.listening());
    std::vector<uint32_t> expectedControls;
    for (const SetterCase& c : setterCases()) {
        for (uint32_t v : c.accepted) {
            EXPECT_EQ(c.set(v), 1) << c.value << " " << v;
            EXPECT_EQ(appDword(c.value), v) << c.value;
            EXPECT_EQ(c.get(), v) << c.value;
            expectedControls.push_back(c.control);
        }
        const uint32_t kept = c.accepted.back();
        for (uint32_t v : c.refused) {
            EXPECT_EQ(c.set(v), 0) << c.value << " " << v;
            EXPECT_EQ(appDword(c.value), kept) << c.value << " refused " << v;
        }
    }
    // Exactly one control per accepted value, none for a refused one.
    EXPECT_EQ(service.controls(), expectedControls);
}

TEST_F(AppSettings, WithoutServiceTheValueIsWrittenAndTheSetterFailsAtOnce) {
    for (const SetterCase& c : setterCases()) {
        const uint32_t v = c.accepted[1];
        EXPECT_EQ(c.set(v), 0) << c.value;
        EXPECT_EQ(appDword(c.value), v) << c.value; // found by the service at its next start
    }
    EXPECT_EQ(Set_Sound_Type(1), 0);

    // A service that takes the connection but never answers does not hold the caller.
    FakeService stuck(kServiceName, FakeService::running(), /*silent=*/true);
    EXPECT_EQ(Set_BuzzerFreq(440), 0);
    EXPECT_EQ(appDword("BuzzerFreq"), 440u);
}

TEST(AppSettingsNoKey, MissingApplicationKeyFailsAndWritesNothing) {
    FakeService service(kServiceName, FakeService::running());
    for (const SetterCase& c : setterCases()) {
        EXPECT_EQ(c.set(c.accepted[1]), 0) << c.value;
        EXPECT_EQ(c.get(), 0u) << c.value;
    }
    EXPECT_EQ(kvr::reg::keyExists(kAppKey), kvr::reg::Status::NotFound);
    EXPECT_TRUE(service.controls().empty());
    EXPECT_EQ(Get_Manual_RightClick_Status(), 0);
}

// ---- sound type ----------------------------------------------------------------------------

TEST_F(AppSettings, SoundTypeIsSwitchedByTheServiceOnly) {
    FakeService service(kServiceName, FakeService::running());
    struct Case {
        uint32_t type;
        int32_t result;
    };
    // The type is a byte: 257 is type 1.
    const Case cases[] = {{1, 1}, {2, 1}, {3, 0}, {0, 0}, {257, 1}, {0xFFFFFFFFu, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(Set_Sound_Type(c.type), c.result) << c.type;
    EXPECT_EQ(service.controls(), (std::vector<uint32_t>{222, 223, 222}));
    EXPECT_FALSE(appDword("SoundType")); // stored by the service, not the library
}

TEST_F(AppSettings, GetSoundTypeReadsTheValueAndReportsAnUnreadableOne) {
    // The library's message boxes go to its default hook: "caption: text" on stderr.
    struct Case {
        uint32_t stored;
        uint32_t result;
    };
    testing::internal::CaptureStderr();
    for (const Case& c : {Case{1, 1}, Case{2, 2}, Case{0, 0}, Case{3, 0}}) {
        ASSERT_EQ(kvr::reg::setDword(kAppKey, "SoundType", c.stored), kvr::reg::Status::Ok);
        EXPECT_EQ(Get_Sound_Type(), c.result) << c.stored;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    ASSERT_EQ(kvr::reg::deleteValue(kAppKey, "SoundType"), kvr::reg::Status::Ok);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Get_Sound_Type(), 0u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Message: Error to Read Reg Value"),
              std::string::npos);

    ASSERT_EQ(kvr::reg::deleteKey(kAppKey), kvr::reg::Status::Ok);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Get_Sound_Type(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // no key: no message
}

// ---- beeps ---------------------------------------------------------------------------------

struct Tone {
    double hz = 0;
    double ms = 0;
};

// Frequency from the rising zero crossings, each placed between its two samples by linear
// interpolation; length from the frame count.
std::optional<Tone> measure(const fs::path& file) {
    SF_INFO info{};
    SNDFILE* sf = ::sf_open(file.c_str(), SFM_READ, &info);
    if (sf == nullptr) return std::nullopt;
    std::vector<int> samples(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t n = ::sf_readf_int(sf, samples.data(), info.frames);
    ::sf_close(sf);
    if (n != info.frames || info.channels != 1) return std::nullopt;
    std::vector<double> rising;
    for (size_t i = 1; i < samples.size(); ++i) {
        const double a = samples[i - 1], b = samples[i];
        if (a < 0 && b >= 0) rising.push_back(double(i - 1) + (-a) / (b - a));
    }
    Tone t;
    t.ms = 1000.0 * double(info.frames) / info.samplerate;
    if (rising.size() >= 2)
        t.hz = double(rising.size() - 1) * info.samplerate / (rising.back() - rising.front());
    return t;
}

class Beeps : public AppSettings {
protected:
    void SetUp() override {
        AppSettings::SetUp();
        sink_ = kvr::test::makeTempDir("sink");
        ::setenv("KVR_SOUND_SINK", sink_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KVR_SOUND_SINK"); }

    // The tone of the newest sink file.
    std::optional<Tone> lastTone() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(sink_))
            if (e.path().extension() == ".wav" && e.path().filename().string()[0] != '.')
                files.push_back(e.path());
        if (files.empty()) return std::nullopt;
        return measure(*std::max_element(files.begin(), files.end()));
    }

    void expectTone(int32_t (*beep)(), double hz, double ms) {
        ASSERT_EQ(beep(), 1);
        const auto tone = lastTone();
        ASSERT_TRUE(tone);
        EXPECT_NEAR(tone->hz, hz, hz * 0.01);
        EXPECT_NEAR(tone->ms, ms, 5.0);
    }
    fs::path sink_;
};

TEST_F(Beeps, DownBeepAtTheFrequencyUpBeepAnOctaveLower) {
    kvr::reg::setDword(kAppKey, "BuzzerFreq", 2000);
    kvr::reg::setDword(kAppKey, "BuzzerDuration", 20);
    expectTone(DownBeep, 2000, 20);
    expectTone(UpBeep, 1000, 20);

    kvr::reg::setDword(kAppKey, "BuzzerFreq", 751);
    kvr::reg::setDword(kAppKey, "BuzzerDuration", 300);
    expectTone(DownBeep, 751, 300);
    expectTone(UpBeep, 375, 300); // integer halving
}

TEST_F(Beeps, UpBeepNeverBelow37Hz) {
    kvr::reg::setDword(kAppKey, "BuzzerDuration", 250); // enough periods to measure 37 Hz
    struct Case {
        uint32_t freq;
        double upHz;
    };
    for (const Case& c : {Case{60, 37}, Case{74, 37}, Case{75, 37}, Case{76, 38}, Case{37, 37}}) {
        SCOPED_TRACE(c.freq);
        kvr::reg::setDword(kAppKey, "BuzzerFreq", c.freq);
        expectTone(UpBeep, c.upHz, 250);
    }
}

TEST_F(Beeps, DamagedSettingsNeverHoldTheCaller) {
    // No values: the defaults, 2000 Hz for 20 ms.
    expectTone(DownBeep, 2000, 20);
    // A length far outside 5..1000 ms sounds the default length instead of blocking for it.
    kvr::reg::setDword(kAppKey, "BuzzerFreq", 1000);
    kvr::reg::setDword(kAppKey, "BuzzerDuration", 0xFFFFFFFFu);
    expectTone(DownBeep, 1000, 20);
    // A frequency no system beep can sound: the beep fails and nothing is played.
    kvr::reg::setDword(kAppKey, "BuzzerFreq", 10);
    EXPECT_EQ(DownBeep(), 0);
}

// ---- manual right-click program ------------------------------------------------------------

class ManualRightClick : public AppSettings {
protected:
    void SetUp() override {
        AppSettings::SetUp();
        rclick_ = kvr::test::program("RClick");
        if (!fs::exists(rclick_)) GTEST_SKIP() << "RClick not built (no Qt)";
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    void TearDown() override {
        kvr::desktop::sendDestroy("RClick");
        kvr::test::waitUntil([] { return !kvr::desktop::findWindow("RClick"); });
        kvr::desktop::reapDetachedChildren();
    }
    static bool windowOpen() { return kvr::desktop::findWindow("RClick").has_value(); }
    static std::optional<std::string> runEntry() {
        std::string s;
        if (kvr::reg::querySz(kRunKey, "RButton Service", s) != kvr::reg::Status::Ok)
            return std::nullopt;
        return s;
    }
    // RClick processes that have not ended (an ended one has no program link any more).
    size_t liveRClicks() const {
        size_t n = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/proc", ec)) {
            const auto exe = fs::read_symlink(e.path() / "exe", ec);
            if (!ec && exe == fs::canonical(rclick_)) ++n;
        }
        return n;
    }
    fs::path rclick_;
};

TEST_F(ManualRightClick, StartsAndStopsTheProgramWithRunEntryAndSwitch) {
    ASSERT_EQ(kvr::reg::setSz(kAppKey, "RButton Path", rclick_.string()), kvr::reg::Status::Ok);

    ASSERT_EQ(Set_MRightClick_App(1), 1);
    ASSERT_TRUE(kvr::test::waitUntil(windowOpen));
    EXPECT_EQ(runEntry(), rclick_.string());
    EXPECT_EQ(appDword("ManualRight"), 1u);
    EXPECT_EQ(Get_Manual_RightClick_Status(), 1);

    ASSERT_EQ(Set_MRightClick_App(0), 1);
    EXPECT_TRUE(kvr::test::waitUntil([] { return !windowOpen(); }));
    EXPECT_FALSE(runEntry());
    EXPECT_EQ(appDword("ManualRight"), 0u);
    EXPECT_EQ(Get_Manual_RightClick_Status(), 0);

    // -1 starts it too; a second start leaves one window (the second RClick gives way).
    ASSERT_EQ(Set_MRightClick_App(-1), 1);
    ASSERT_TRUE(kvr::test::waitUntil(windowOpen));
    const auto first = kvr::desktop::findWindow("RClick");
    ASSERT_EQ(Set_MRightClick_App(1), 1);
    EXPECT_TRUE(kvr::test::waitUntil([&] { return liveRClicks() == 1; }));
    EXPECT_EQ(kvr::desktop::findWindow("RClick"), first);
    EXPECT_EQ(Set_MRightClick_App(2), 1); // any other value stops it
    EXPECT_TRUE(kvr::test::waitUntil([] { return !windowOpen(); }));
}

TEST_F(ManualRightClick, StopWithoutWindowAndStartWithoutProgramChangeNothing) {
    ASSERT_EQ(kvr::reg::setDword(kAppKey, "ManualRight", 1), kvr::reg::Status::Ok);
    EXPECT_EQ(Set_MRightClick_App(0), 0);
    EXPECT_EQ(appDword("ManualRight"), 1u);

    ASSERT_EQ(kvr::reg::setDword(kAppKey, "ManualRight", 0), kvr::reg::Status::Ok);
    EXPECT_EQ(Set_MRightClick_App(1), 0); // no "RButton Path"
    const fs::path missing = kvr::test::makeTempDir("none") / "RClick";
    ASSERT_EQ(kvr::reg::setSz(kAppKey, "RButton Path", missing.string()), kvr::reg::Status::Ok);
    EXPECT_EQ(Set_MRightClick_App(1), 0);
    EXPECT_EQ(kvr::reg::setSz(kAppKey, "RButton Path", std::string(255, 'x')),
              kvr::reg::Status::Ok);
    EXPECT_EQ(Set_MRightClick_App(1), 0); // longer than 254 characters
    EXPECT_FALSE(runEntry());
    EXPECT_EQ(appDword("ManualRight"), 0u);
}

TEST_F(ManualRightClick, ProgramStartedByHandIsStoppedAndTheSwitchReadsOff) {
    kvr::test::ChildProcess byHand(rclick_, {});
    ASSERT_TRUE(kvr::test::waitUntil(windowOpen));
    ASSERT_EQ(kvr::reg::setDword(kAppKey, "ManualRight", 1), kvr::reg::Status::Ok);
    EXPECT_EQ(Set_MRightClick_App(0), 1); // no Run entry to remove
    auto status = byHand.wait();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status; // closed cleanly
    EXPECT_EQ(appDword("ManualRight"), 0u);
}

TEST_F(ManualRightClick, RunEntryStartsTheProgramAtLogin) {
    ASSERT_EQ(kvr::reg::setSz(kAppKey, "RButton Path", rclick_.string()), kvr::reg::Status::Ok);
    ASSERT_EQ(Set_MRightClick_App(1), 1);
    ASSERT_TRUE(kvr::test::waitUntil(windowOpen));
    // The session ends: the program goes, the entry stays.
    ASSERT_TRUE(kvr::desktop::sendDestroy("RClick"));
    ASSERT_TRUE(kvr::test::waitUntil([] { return !windowOpen(); }));
    ASSERT_TRUE(runEntry());

    // The next login runs the autostart helper, which starts the Run entries.
    const auto run = kvr::test::runProgram(kvr::test::program("kvrautostart"), {});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(kvr::test::waitUntil(windowOpen));
}

// ---- the drivers' manual right-click switch and event -------------------------------------

TEST(ManualRightSwitch, NextTouchIsARightClickAndTheEventSaysItWasUsed) {
    kvr::test::tsapi::Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    auto* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr) << bench.diagnostics();
    const uint8_t listed = GetExistControllers();
    if (listed == 0) GTEST_SKIP() << "controller discovery lists nothing yet";
    ASSERT_EQ(listed, 1);

    auto usedUp = kvr::ipc::Event::create();
    ASSERT_TRUE(usedUp);
    EXPECT_EQ(SetManualRightEvent(reinterpret_cast<void*>(static_cast<intptr_t>(usedUp->fd()))), 1);

    // Not armed: a touch is no right click and the event stays clear.
    ASSERT_TRUE(sim->play({"tap 512 512 1"}));
    EXPECT_FALSE(usedUp->wait(500ms));

    EXPECT_EQ(SetManualRightClick(1), 1);
    ASSERT_TRUE(sim->play({"tap 512 512 1"}));
    EXPECT_TRUE(usedUp->wait(20s));
    usedUp->reset();

    // Used up: the next touch is an ordinary one again; armed and disarmed, none at all.
    EXPECT_EQ(SetManualRightClick(1), 1);
    EXPECT_EQ(SetManualRightClick(0), 1);
    ASSERT_TRUE(sim->play({"tap 512 512 1"}));
    EXPECT_FALSE(usedUp->wait(500ms));
}

TEST(ManualRightSwitch, NoDriverNoControllerStillAnswersOne) {
    EXPECT_EQ(GetExistControllers(), 0);
    EXPECT_EQ(SetManualRightClick(1), 1);
    EXPECT_EQ(SetManualRightEvent(nullptr), 1);
}

} // namespace
