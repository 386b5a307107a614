// Controller and driver settings through libtsapi, against the driver daemon and an emulated
// controller: the frames the controller receives, attempt counts when it stays silent, retries
// after a lost reply byte, failure values, and the desktop's double-click settings.

#include "platform/desktop/mouse_settings.h"
#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kvr::test::tsapi {
namespace {

using Frames = std::vector<std::string>;

// Words chosen so that every byte a setter must keep is distinct from the one it changes.
emu::ControllerProfile paramProfile() {
    auto p = Sim::defaultProfile();
    p.defaults[0x02] = 0x4A37;
    p.defaults[0x99] = 0x1403;
    p.defaults[0x9B] = 0x00FA;
    p.defaults[0x9C] = 0x0180;
    p.defaults[0x9D] = 0x00C8;
    p.defaults[0x9F] = 0x3250;
    return p;
}

// One daemon, one controller on COM1 as serial unit 0, opened through the library.
class SettingsBench {
public:
    SettingsBench() {
        if (!bench_.ready()) return;
        sim_ = bench_.addSerial(0, 1, paramProfile());
        if (sim_) opened_ = std::make_unique<OpenedController>("RS232_DEVICE0");
    }
    [[nodiscard]] bool ok() const { return sim_ && opened_ && opened_->ok(); }
    [[nodiscard]] std::string why() const { return bench_.diagnostics(); }
    [[nodiscard]] std::int32_t h() const { return opened_->handle(); }
    Sim& sim() { return *sim_; }
    std::size_t mark() const { return sim_->frameTexts().size(); }
    // Frames since `from`, without the report-mode commands the driver re-sends by itself
    // after the controller announces a restart (which follows every "R").
    Frames since(std::size_t from) const {
        Frames out;
        for (auto& t : framesSince(*sim_, from))
            if (t != "MS" && t != "MP") out.push_back(t);
        return out;
    }
    std::uint16_t word(std::uint8_t address) {
        return sim_->pty().inspect([address](const emu::Controller& c) { return c.word(address); });
    }

private:
    Bench bench_;
    Sim* sim_ = nullptr;
    std::unique_ptr<OpenedController> opened_;
};

#define START_BENCH(b)                                                                             \
    SettingsBench b;                                                                               \
    ASSERT_TRUE(b.ok()) << b.why()

Frames repeat(const std::string& text, int n, Frames head = {}) {
    for (int i = 0; i < n; ++i)
        head.push_back(text);
    return head;
}

// ---- parameter getters -------------------------------------------------------------------------

TEST(TsapiSettings, ParameterGettersSendTheirFramesAndDecodeTheirByte) {
    START_BENCH(b);
    struct Case {
        const char* name;
        std::function<std::int32_t(std::int32_t)> get;
        std::int32_t expected;
        Frames frames;
    };
    const Case cases[] = {
        {"right-click time", GetRightClickTime, 0x4A * 8, {"Z", "GP02"}},
        {"measure time", GetMeasureTime, 0x14, {"Z", "GP99"}},
        {"in-focus", GetInfocus, 0x03, {"Z", "GP99"}},
        {"out-focus", GetOutfocus, 0xFA, {"Z", "GP9B"}},
        {"measure delay", GetMeasureDelay, 0xC8, {"Z", "GP9D"}},
        {"sensitivity", [](std::int32_t h) { return GetTouchSensitivity(h); }, 1, {"Z", "GP9C"}},
        {"noise level", [](std::int32_t h) { return GetNoiseLevel(h); }, 0x32, {"Z", "GP9F"}},
        {"acc level (no preamble)", GetAccLevel, 0x50, {"GP9F"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto m = b.mark();
        EXPECT_EQ(c.get(b.h()), c.expected);
        EXPECT_TRUE(sameExchanges(b.since(m), c.frames));
    }
    // Time / 8 on the way in, byte x 8 on the way out.
    EXPECT_EQ(SetRightClickTime(b.h(), 1000), 1);
    EXPECT_EQ(GetRightClickTime(b.h()), 1000);
    EXPECT_EQ(SetRightClickTime(b.h(), 1007), 1);
    EXPECT_EQ(GetRightClickTime(b.h()), 1000);
    EXPECT_EQ(SetRightClickTime(b.h(), 400), 1);
    EXPECT_EQ(GetRightClickTime(b.h()), 400);
}

// ---- parameter setters -------------------------------------------------------------------------

struct SetterCase {
    const char* name;
    std::function<std::int32_t(std::int32_t)> set;
    Frames frames;
    std::uint8_t address;
    std::uint16_t wordAfter;
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const SetterCase& c, std::ostream* os) {
    *os << c.name;
}

class TsapiSetter : public ::testing::TestWithParam<SetterCase> {};

TEST_P(TsapiSetter, ReadsChangesWritesAndHandsOver) {
    START_BENCH(b);
    const auto& c = GetParam();
    const auto m = b.mark();
    EXPECT_EQ(c.set(b.h()), 1);
    EXPECT_TRUE(sameExchanges(b.since(m), c.frames));
    EXPECT_EQ(b.word(c.address), c.wordAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Words, TsapiSetter,
    ::testing::Values(SetterCase{"RightClick800",
                                 [](auto h) { return SetRightClickTime(h, 800); },
                                 {"Z", "GP02", "SP026437", "PL"},
                                 0x02,
                                 0x6437},
                      SetterCase{"RightClick1272",
                                 [](auto h) { return SetRightClickTime(h, 1272); },
                                 {"Z", "GP02", "SP029F37", "PL"},
                                 0x02,
                                 0x9F37},
                      SetterCase{"MeasureTime",
                                 [](auto h) { return SetMeasureTime(h, 0x21); },
                                 {"Z", "GP99", "SP992103", "R"},
                                 0x99,
                                 0x2103},
                      SetterCase{"Infocus",
                                 [](auto h) { return SetInfocus(h, 0x0A); },
                                 {"Z", "GP99", "SP99140A", "R"},
                                 0x99,
                                 0x140A},
                      SetterCase{"MeasureDelay",
                                 [](auto h) { return SetMeasureDelay(h, 255); },
                                 {"Z", "GP9D", "SP9D00FF", "R"},
                                 0x9D,
                                 0x00FF},
                      SetterCase{"Outfocus",
                                 [](auto h) { return SetOutfocus(h, 0); },
                                 {"Z", "GP9B", "SP9B0000", "R"},
                                 0x9B,
                                 0x0000},
                      SetterCase{"Sensitivity4",
                                 [](auto h) { return SetTouchSensitivity(h, 4); },
                                 {"Z", "GP9C", "SP9C0480", "R"},
                                 0x9C,
                                 0x0480},
                      SetterCase{"NoiseLevel",
                                 [](auto h) { return SetNoiseLevel(h, 0x14); },
                                 {"GP9F", "SP9F1450", "R"},
                                 0x9F,
                                 0x1450},
                      SetterCase{"AccLevel",
                                 [](auto h) { return SetAccLevel(h, 0x14); },
                                 {"GP9F", "SP9F3214", "R"},
                                 0x9F,
                                 0x3214}),
    [](const auto& info) { return std::string(info.param.name); });

// A lost reply byte costs one attempt of the exchange it hit, and nothing else. Byte numbers
// count from the fault: Z's reply is bytes 1-3, GP's 4-9, SP's 10-12, R's 13-15 (when no reply
// came late and made an exchange repeat its command first: the byte then falls in another
// reply, and that exchange is the one repeated).
struct RetryCase {
    const char* name;
    std::function<std::int32_t(std::int32_t)> set;
    std::size_t lostByte;
    Frames frames; // each exchange once
};

void PrintTo(const RetryCase& c, std::ostream* os) {
    *os << c.name;
}

// The frame (its index in `frames`) whose reply carried reply byte `n` (counted from 1): the
// controller answers every frame at once, a GP with six bytes, the other commands here with
// three.
std::size_t frameLosingByte(const Frames& frames, std::size_t n) {
    std::size_t sent = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        sent += frames[i].starts_with("GP") ? 6 : 3;
        if (sent >= n) return i;
    }
    return frames.size();
}

class TsapiSetterRetry : public ::testing::TestWithParam<RetryCase> {};

TEST_P(TsapiSetterRetry, RepeatsOnlyTheFailedExchange) {
    START_BENCH(b);
    const auto& c = GetParam();
    ASSERT_TRUE(b.sim().play({"fault drop " + std::to_string(c.lostByte) + " 1"}));
    const auto m = b.mark();
    EXPECT_EQ(c.set(b.h()), 1);
    const Frames got = b.since(m);
    EXPECT_TRUE(sameExchanges(got, c.frames));
    const std::size_t hit = frameLosingByte(got, c.lostByte);
    ASSERT_LT(hit + 1, got.size());
    EXPECT_EQ(got[hit + 1], got[hit]) << "the exchange that lost a byte is repeated";
}

INSTANTIATE_TEST_SUITE_P(
    LostByte, TsapiSetterRetry,
    ::testing::Values(RetryCase{"SensitivitySet",
                                [](auto h) { return SetTouchSensitivity(h, 2); },
                                10,
                                {"Z", "GP9C", "SP9C0280", "R"}},
                      RetryCase{"SensitivityTakeOver",
                                [](auto h) { return SetTouchSensitivity(h, 2); },
                                13,
                                {"Z", "GP9C", "SP9C0280", "R"}},
                      RetryCase{"MeasureTimeTakeOver",
                                [](auto h) { return SetMeasureTime(h, 7); },
                                13,
                                {"Z", "GP99", "SP990703", "R"}},
                      RetryCase{"AccLevelGet",
                                [](auto h) { return SetAccLevel(h, 9); },
                                1,
                                {"GP9F", "SP9F3209", "R"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- a controller that does not answer -------------------------------------------------------

TEST(TsapiSettings, SilentControllerCostsEachExportItsAttemptsAndItsFailureValue) {
    START_BENCH(b);
    ASSERT_TRUE(b.sim().play({"fault silence"}));
    struct Case {
        const char* name;
        std::function<std::int32_t(std::int32_t)> call;
        std::int32_t failure;
        Frames frames;
    };
    const Case cases[] = {
        {"GetRightClickTime", GetRightClickTime, 0, repeat("GP02", 3, {"Z"})},
        {"GetMeasureTime", GetMeasureTime, 0, repeat("GP99", 4, {"Z"})},
        {"GetInfocus", GetInfocus, 0, repeat("GP99", 4, {"Z"})},
        {"GetOutfocus", GetOutfocus, 0, repeat("GP9B", 4, {"Z"})},
        {"GetMeasureDelay", GetMeasureDelay, 0, repeat("GP9D", 4, {"Z"})},
        {"GetTouchSensitivity", [](auto h) { return GetTouchSensitivity(h); }, 255,
         repeat("GP9C", 4, {"Z"})},
        {"GetNoiseLevel", [](auto h) { return GetNoiseLevel(h); }, 255, repeat("GP9F", 4, {"Z"})},
        {"GetAccLevel", GetAccLevel, -1, repeat("GP9F", 4)},
        {"SetRightClickTime", [](auto h) { return SetRightClickTime(h, 800); }, 0,
         repeat("GP02", 3, {"Z"})},
        {"SetMeasureTime", [](auto h) { return SetMeasureTime(h, 1); }, 0,
         repeat("GP99", 4, {"Z"})},
        {"SetInfocus", [](auto h) { return SetInfocus(h, 1); }, 0, repeat("GP99", 4, {"Z"})},
        {"SetOutfocus", [](auto h) { return SetOutfocus(h, 1); }, 0, repeat("GP9B", 4, {"Z"})},
        {"SetMeasureDelay", [](auto h) { return SetMeasureDelay(h, 1); }, 0,
         repeat("GP9D", 4, {"Z"})},
        {"SetTouchSensitivity", [](auto h) { return SetTouchSensitivity(h, 2); }, 0,
         repeat("GP9C", 3, {"Z"})},
        {"SetNoiseLevel", [](auto h) { return SetNoiseLevel(h, 30); }, 0, repeat("GP9F", 3)},
        {"SetAccLevel", [](auto h) { return SetAccLevel(h, 30); }, 0, repeat("GP9F", 3)},
        {"SetReportMode", [](auto h) { return SetReportMode(h, 3); }, 0, repeat("MP", 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto m = b.mark();
        EXPECT_EQ(c.call(b.h()), c.failure);
        EXPECT_EQ(framesSince(b.sim(), m), c.frames);
    }
    // The failed mode change never reached the driver.
    EXPECT_EQ(GetReportMode(b.h()), 2);
}

TEST(TsapiSettings, OutOfRangeArgumentsAreRefusedWithNothingSent) {
    START_BENCH(b);
    const auto m = b.mark();
    const std::int32_t h = b.h();
    const std::int32_t results[] = {
        SetRightClickTime(h, 399),
        SetRightClickTime(h, 1273),
        SetTouchSensitivity(h, 5),
        SetMeasureTime(h, 256),
        SetInfocus(h, -1),
        SetOutfocus(h, 0x1FF),
        SetMeasureDelay(h, 1000),
        SetExpandValue(h, 2, 4096),
        SetExpandValue(h, 0, 10),
        SetExpandValue(h, 5, 10),
        SetExpandValue(h, 1, 0x10005),
        GetExpandValue(h, 0),
        GetExpandValue(h, 5),
    };
    for (std::size_t i = 0; i < std::size(results); ++i)
        EXPECT_EQ(results[i], 0) << "call " << i;
    EXPECT_EQ(b.since(m), Frames{});
    EXPECT_EQ(b.word(0x02), 0x4A37);
}

// ---- driver settings ---------------------------------------------------------------------------

TEST(TsapiSettings, DriverSettingsRoundTripThroughTheDriver) {
    START_BENCH(b);
    const std::int32_t h = b.h();
    const auto m = b.mark();

    EXPECT_EQ(SetRotation(h, 2), 1);
    EXPECT_EQ(GetRotation(h), 2);
    EXPECT_EQ(SetRotation(h, 0), 1);
    EXPECT_EQ(GetRotation(h), 0);

    EXPECT_EQ(EnableDownSound(h, 1), 1);
    EXPECT_EQ(EnableUpSound(h, 7), 1); // only 1 switches on
    EXPECT_EQ(GetDownSoundStatus(h), 1);
    EXPECT_EQ(GetUpSoundStatus(h), 0);
    EXPECT_EQ(EnableUpSound(h, 1), 1);
    EXPECT_EQ(EnableDownSound(h, 0), 1);
    EXPECT_EQ(GetDownSoundStatus(h), 0);
    EXPECT_EQ(GetUpSoundStatus(h), 1);

    EXPECT_EQ(EnableRightClick(h, 1), 1);
    EXPECT_EQ(GetRightClickEnabled(h), 1);
    EXPECT_EQ(EnableRightClick(h, 0), 1);
    EXPECT_EQ(GetRightClickEnabled(h), 0);

    // The serial driver has no double-click switch.
    EXPECT_EQ(EnableDoubleClick(h, 1), 0);
    EXPECT_EQ(GetDoubleClickEnabled(h), 0);

    const std::uint32_t values[] = {0, 17, 2048, 4095};
    for (std::uint8_t side = 1; side <= 4; ++side) {
        EXPECT_EQ(SetExpandValue(h, side, values[side - 1]), 1) << int(side);
        EXPECT_EQ(GetExpandValue(h, side), values[side - 1]) << int(side);
    }
    // None of this is a controller command.
    EXPECT_EQ(b.since(m), Frames{});
}

TEST(TsapiSettings, ReportModeSwitchesTheControllerThenTheDriver) {
    START_BENCH(b);
    const std::int32_t h = b.h();
    struct Case {
        std::uint8_t mode;
        Frames frames;
        std::uint8_t driverMode;
        emu::ReportMode controllerMode;
    };
    const Case cases[] = {
        {3, {"MP", "PL"}, 3, emu::ReportMode::Point},
        {1, {"MS", "PL"}, 1, emu::ReportMode::Stream},
        {7, {"MS", "PL"}, 2, emu::ReportMode::Stream}, // the driver takes any other as 2
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        const auto m = b.mark();
        EXPECT_EQ(SetReportMode(h, c.mode), 1);
        EXPECT_TRUE(sameExchanges(framesSince(b.sim(), m), c.frames));
        EXPECT_EQ(GetReportMode(h), c.driverMode);
        EXPECT_EQ(
            b.sim().pty().inspect([](const emu::Controller& ctl) { return ctl.reportMode(); }),
            c.controllerMode);
    }
}

// ---- handles ---------------------------------------------------------------------------------

TEST(TsapiSettings, HandlesOutsideTheRangesFailAtOnce) {
    START_BENCH(b);
    const auto m = b.mark();
    for (const std::int32_t h : {-1, 0, 99, 108, 112, 199, 204}) {
        SCOPED_TRACE(h);
        EXPECT_EQ(SetRotation(h, 1), 0);
        EXPECT_EQ(GetRotation(h), 0);
        EXPECT_EQ(EnableDownSound(h, 1), 0);
        EXPECT_EQ(GetUpSoundStatus(h), 0);
        EXPECT_EQ(SetReportMode(h, 2), 0);
        EXPECT_EQ(GetReportMode(h), 0);
        EXPECT_EQ(GetRightClickEnabled(h), 0);
        EXPECT_EQ(SetExpandValue(h, 1, 5), 0);
        EXPECT_EQ(GetRightClickTime(h), 0);
        EXPECT_EQ(SetMeasureTime(h, 5), 0);
        EXPECT_EQ(GetInfocus(h), 0);
        // Every getter: 0 for a handle that names no controller (255 / -1 are for a
        // controller that does not answer).
        EXPECT_EQ(GetTouchSensitivity(h), 0);
        EXPECT_EQ(GetNoiseLevel(h), 0);
        EXPECT_EQ(GetAccLevel(h), 0);
        EXPECT_EQ(SetAccLevel(h, 5), 0);
    }
    EXPECT_EQ(b.since(m), Frames{});
}

TEST(TsapiSettings, ReportModeIsTwoWhenTheDriverGivesNoByte) {
    // The process has not opened the serial control device, so the request gets nothing.
    EXPECT_EQ(GetReportMode(100), 2);
    EXPECT_EQ(GetRotation(100), 0);
    EXPECT_EQ(GetAccLevel(100), -1);
}

// ---- desktop double-click settings ------------------------------------------------------------

TEST(TsapiSettings, DoubleClickSpeedAndAreaLiveInTheDesktopSettings) {
    EXPECT_EQ(SetDoubleClickSpeed(0, 5), 1);
    EXPECT_EQ(desktop::doubleClickTimeMs(), 500U);
    EXPECT_EQ(GetDoubleClickSpeed(0), 5);
    for (const std::uint8_t level : {0, 11, 255})
        EXPECT_EQ(SetDoubleClickSpeed(0, level), 0);
    EXPECT_EQ(SetDoubleClickSpeed(123, 10), 1);
    EXPECT_EQ(GetDoubleClickSpeed(0), 10);
    EXPECT_EQ(SetDoubleClickSpeed(0, 1), 1);
    EXPECT_EQ(GetDoubleClickSpeed(0), 1);

    EXPECT_EQ(SetDoubleClickArea(0, 3), 1);
    EXPECT_EQ(desktop::doubleClickWidthPx(), 30U);
    EXPECT_EQ(desktop::doubleClickHeightPx(), 30U);
    EXPECT_EQ(GetDoubleClickArea(0), 3);
    for (const std::uint8_t level : {0, 7})
        EXPECT_EQ(SetDoubleClickArea(0, level), 0);
    EXPECT_EQ(GetDoubleClickArea(0), 3);
    EXPECT_EQ(SetDoubleClickArea(0, 6), 1);
    EXPECT_EQ(GetDoubleClickArea(0), 6);
}

TEST(TsapiSettings, DoubleClickValuesOutOfRangeInTheStoreReadAsDefaults) {
    struct Case {
        const char* speed;
        const char* width;
        const char* height;
        std::int32_t speedLevel;
        std::int32_t areaLevel;
    };
    const Case cases[] = {
        {"0", "25", "35", 5, 3},                           // 0 ms: the default 500 ms
        {"99999", "abc", "4", 50, 0},                      // capped at 5000 ms; unreadable width: 4
        {"250", "4000000000", "4000000000", 2, 400000000}, // the sum must not wrap
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.speed);
        ASSERT_EQ(reg::createKey(desktop::kMouseKey), reg::Status::Ok);
        ASSERT_EQ(reg::setSz(desktop::kMouseKey, "DoubleClickSpeed", c.speed), reg::Status::Ok);
        ASSERT_EQ(reg::setSz(desktop::kMouseKey, "DoubleClickWidth", c.width), reg::Status::Ok);
        ASSERT_EQ(reg::setSz(desktop::kMouseKey, "DoubleClickHeight", c.height), reg::Status::Ok);
        EXPECT_EQ(GetDoubleClickSpeed(0), c.speedLevel);
        EXPECT_EQ(GetDoubleClickArea(0), c.areaLevel);
    }
}

} // namespace
} // namespace kvr::test::tsapi
