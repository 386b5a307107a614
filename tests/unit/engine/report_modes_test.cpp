// Pointer report modes: button flags, notifications and events, manual right click.
#include "tests/unit/engine/engine_fixture.h"

namespace kvr::engine::test {
namespace {

constexpr std::uint16_t LD = kMouseLeftButtonDown, LU = kMouseLeftButtonUp;
constexpr std::uint16_t RD = kMouseRightButtonDown, RU = kMouseRightButtonUp, MV = 0;
constexpr EventRef kDown = 11, kUp = 12, kGlobalDown = 21, kGlobalUp = 22, kManual = 31;

// A sample step: pen down (optionally with the side button) or pen up.
enum Step { Dn, Side, Up };

struct Modes : EngineFixture {
    void run(const std::vector<Step>& steps, Rs232Device* d = nullptr) {
        Rs232Device& target = d ? *d : dev;
        std::lock_guard g(target.Lock);
        int i = 0;
        for (Step s : steps) {
            MouseInputData sample;
            sample.flags = kMouseMoveAbsolute;
            sample.lastX = 100 + i;
            sample.lastY = 200 + i;
            ++i;
            ReportSample(target, sample, s != Up, s == Side);
        }
    }
    static std::vector<Step> Touch(int downSamples, Step kind = Dn) {
        std::vector<Step> v(static_cast<std::size_t>(downSamples), kind);
        v.push_back(Up);
        return v;
    }
    void registerAll() {
        dev.DownEvent = kDown;
        dev.DownEventRegistered = 1;
        dev.DownSound = 1;
        dev.UpEvent = kUp;
        dev.UpEventRegistered = 1;
        dev.UpSound = 1;
        ext.GlobalDownEvent = kGlobalDown;
        ext.GlobalUpEvent = kGlobalUp;
        ext.ManualRightEvent = kManual;
    }
};

std::vector<std::uint16_t> Flags(std::initializer_list<std::vector<std::uint16_t>> parts) {
    std::vector<std::uint16_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
std::vector<std::uint16_t> Moves(int n) {
    return std::vector<std::uint16_t>(static_cast<std::size_t>(n), MV);
}

struct SequenceCase {
    const char* name;
    std::uint8_t mode;
    std::vector<Step> steps;
    std::vector<std::uint16_t> flags;
};

TEST_F(Modes, ButtonFlagSequences) {
    const SequenceCase cases[] = {
        {"drawing: down down down up", kReportModeDrawing, {Dn, Dn, Dn, Up}, {LD, MV, MV, LU}},
        {"drawing: a second up releases again", kReportModeDrawing, {Dn, Up, Up}, {LD, LU, LU}},
        {"drawing: up without a press", kReportModeDrawing, {Up}, {LU}},
        {"drawing: side button held", kReportModeDrawing, {Side, Side, Side, Up}, {RD, RU, RU, RU}},
        {"drawing: side button then plain samples",
         kReportModeDrawing,
         {Side, Dn, Up},
         {RD, LD, RU}},
        {"any other mode value draws", 0, {Dn, Dn, Up}, {LD, MV, LU}},
        {"mode 200 draws", 200, {Dn, Up}, {LD, LU}},
        {"desktop: tap of 5", kReportModeDesktop, Touch(5), Moves(6)},
        {"desktop: 15 samples", kReportModeDesktop, Touch(15),
         Flags({Moves(10), {LD}, Moves(4), {LU}})},
        {"desktop: exactly 10 ends with a bare release", kReportModeDesktop, Touch(10),
         Flags({Moves(10), {LU}})},
        {"desktop: 11 samples", kReportModeDesktop, Touch(11), Flags({Moves(10), {LD, LU}})},
        {"desktop: side button toggles",
         kReportModeDesktop,
         {Side, Side, Side, Up},
         {RD, RU, RU, RU}},
        {"button: each sample clicks", kReportModeButton, {Dn, Dn, Up}, {LD, LU, LD, LU, LD, LU}},
        {"button: side button ignored", kReportModeButton, {Side}, {LD, LU}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        dev.ReportMode = c.mode;
        run(c.steps);
        EXPECT_EQ(rec.flags(), c.flags);
        EXPECT_EQ(dev.LeftPressed, 0);
        EXPECT_EQ(dev.RightPressed, 0);
        EXPECT_EQ(dev.DownSamples, 0);
    }
}

TEST_F(Modes, ButtonModeReleasesAtSameCoordinates) {
    dev.ReportMode = kReportModeButton;
    run({Dn});
    const auto d = rec.deliveries();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].x, d[1].x);
    EXPECT_EQ(d[0].y, d[1].y);
}

TEST_F(Modes, EventOrderPerMode) {
    struct Case {
        const char* name;
        std::uint8_t mode;
        std::vector<Step> steps;
        std::string trace;
    };
    const Case cases[] = {
        {"drawing", kReportModeDrawing, {Dn, Dn, Up}, "E21 E11 D1 D0 E22 E12 D2"},
        {"desktop tap: no sounds", kReportModeDesktop, {Dn, Up}, "E21 D0 E22 D0"},
        {"button", kReportModeButton, {Dn}, "E21 E11 D1 E12 E22 D2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        registerAll();
        ext.LastDownDevice = ext.LastUpDevice = kNoDevice;
        dev.ReportMode = c.mode;
        run(c.steps);
        EXPECT_EQ(rec.trace(), c.trace);
    }
}

TEST_F(Modes, DesktopClickSounds) {
    registerAll();
    ext.GlobalDownEvent = ext.GlobalUpEvent = kNoEvent;
    dev.ReportMode = kReportModeDesktop;
    run(Touch(12));
    EXPECT_EQ(rec.eventCount(kDown), 1);
    EXPECT_EQ(rec.eventCount(kUp), 1);
}

TEST_F(Modes, SoundFlagsAndRegistration) {
    struct Case {
        const char* name;
        std::uint8_t downRegistered, downSound, upRegistered, upSound;
        int downs, ups;
    };
    const Case cases[] = {
        {"both on", 1, 1, 1, 1, 2, 2},
        {"sounds off", 1, 0, 1, 0, 0, 0},
        {"not registered", 0, 1, 0, 1, 0, 0},
        {"down only", 1, 1, 1, 0, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        registerAll();
        dev.DownEventRegistered = c.downRegistered;
        dev.DownSound = c.downSound;
        dev.UpEventRegistered = c.upRegistered;
        dev.UpSound = c.upSound;
        dev.ReportMode = kReportModeDrawing;
        run({Dn, Dn, Up, Dn, Up});
        EXPECT_EQ(rec.eventCount(kDown), c.downs);
        EXPECT_EQ(rec.eventCount(kUp), c.ups);
    }
}

TEST_F(Modes, ManualRightClick) {
    struct Case {
        const char* name;
        std::uint8_t mode;
        std::vector<std::uint16_t> flags;
    };
    const Case cases[] = {
        {"drawing", kReportModeDrawing, {RD, MV, MV, RU, LD, LU}},
        {"desktop: right press at once", kReportModeDesktop, Flags({{RD, MV, MV, RU}, Moves(2)})},
        {"button", kReportModeButton, {RD, RU, LD, LU}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        registerAll();
        ext.ManualRightClick = 1;
        dev.ReportMode = c.mode;
        if (c.mode == kReportModeButton) {
            run({Dn, Dn});
        } else {
            run({Dn, Dn, Dn, Up, Dn, Up});
        }
        EXPECT_EQ(rec.flags(), c.flags);
        EXPECT_EQ(rec.eventCount(kManual), 1);
        EXPECT_EQ(ext.ManualRightClick, 0);
    }
}

TEST_F(Modes, ManualRightClickIsTakenByWhicheverDevicePresses) {
    registerAll();
    ext.ManualRightClick = 1;
    Rs232Device& other = ext.Devices[6];
    run({Dn}, &other); // device 6 takes the right press
    run({Dn, Up});     // device 0 presses while it is still held: right press too
    EXPECT_EQ(rec.flags(), (std::vector<std::uint16_t>{RD, RD, RU}));
    EXPECT_EQ(ext.ManualRightClick, 0) << "cleared by the first release under it";
    rec.calls.clear();
    run({Up}, &other);
    EXPECT_EQ(rec.flags(), (std::vector<std::uint16_t>{RU}));
    EXPECT_EQ(rec.eventCount(kManual), 0) << "already reported";
}

TEST_F(Modes, ManualRightEventNotRegistered) {
    ext.ManualRightClick = 1;
    run({Dn, Up});
    EXPECT_EQ(rec.flags(), (std::vector<std::uint16_t>{RD, RU}));
    EXPECT_EQ(ext.ManualRightClick, 0);
    EXPECT_EQ(rec.trace(), "D4 D8");
}

TEST_F(Modes, DriverWideNotificationsUntilRead) {
    registerAll();
    Rs232Device& dev2 = ext.Devices[2];
    run(Touch(2), &dev2);
    run(Touch(2)); // a second touch (another device) while nobody read: quiet
    EXPECT_EQ(rec.eventCount(kGlobalDown), 1);
    EXPECT_EQ(rec.eventCount(kGlobalUp), 1);
    EXPECT_EQ(ext.LastDownDevice, 2);
    EXPECT_EQ(ext.LastUpDevice, 2);
    // The reader takes both indexes (control code 46): the next touch notifies again.
    {
        std::lock_guard g(ext.Lock);
        ext.LastDownDevice = ext.LastUpDevice = kNoDevice;
    }
    run(Touch(1));
    EXPECT_EQ(rec.eventCount(kGlobalDown), 2);
    EXPECT_EQ(ext.LastDownDevice, 0);
    EXPECT_EQ(ext.LastUpDevice, 0);
}

TEST_F(Modes, NoGlobalEventLeavesSlotsEmpty) {
    run(Touch(3));
    EXPECT_EQ(ext.LastDownDevice, kNoDevice);
    EXPECT_EQ(ext.LastUpDevice, kNoDevice);
}

TEST_F(Modes, PointerNotConnected) {
    struct Case {
        const char* name;
        bool portExists;
        std::uint8_t mode;
    };
    const Case cases[] = {
        {"disconnected, drawing", true, kReportModeDrawing},
        {"disconnected, desktop", true, kReportModeDesktop},
        {"disconnected, button", true, kReportModeButton},
        {"no pointer device", false, kReportModeDrawing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        registerAll();
        ext.ManualRightClick = 1;
        rec.isConnected = false;
        ext.Pointer.Port = c.portExists ? &rec : nullptr;
        dev.ReportMode = c.mode;
        run(Touch(12));
        EXPECT_TRUE(rec.calls.empty()) << rec.trace();
        EXPECT_EQ(dev.LeftPressed, 0);
        EXPECT_EQ(dev.RightPressed, 0);
        EXPECT_EQ(dev.DownSamples, 0);
        EXPECT_EQ(ext.ManualRightClick, 1);
        EXPECT_EQ(ext.LastDownDevice, kNoDevice);
    }
    // Once connected, touches are delivered.
    rec.isConnected = true;
    ext.Pointer.Port = &rec;
    ext.ManualRightClick = 0;
    dev.ReportMode = kReportModeDrawing;
    run(Touch(1));
    EXPECT_EQ(rec.flags(), (std::vector<std::uint16_t>{LD, LU}));
}

TEST_F(Modes, PressStateSurvivesModeChangeUntilNextRelease) {
    dev.ReportMode = kReportModeDesktop;
    run(std::vector<Step>(12, Dn)); // left pressed on the 11th sample
    EXPECT_EQ(dev.LeftPressed, 1);
    dev.ReportMode = kReportModeDrawing;
    run({Dn, Up});
    EXPECT_EQ(rec.flags().back(), LU);
    EXPECT_EQ(dev.LeftPressed, 0);
    // Drawing's release leaves DownSamples; desktop's next release clears it (8-bit count).
    EXPECT_EQ(dev.DownSamples, 11);
    dev.ReportMode = kReportModeDesktop;
    run({Up});
    EXPECT_EQ(dev.DownSamples, 0);
}

TEST_F(Modes, PacketsReachTheModeWithPointerCoordinates) {
    dev.ExpandUp = dev.ExpandLeft = 10;
    dev.ExpandDown = dev.ExpandRight = 4080;
    feed(Cat({MRaw(4095, 4095, true), MRaw(4095, 4095, false)}));
    const auto d = rec.deliveries();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].buttonFlags, LD);
    EXPECT_EQ(d[0].x, 65535);
    EXPECT_EQ(d[0].y, 65535);
    EXPECT_EQ(d[1].buttonFlags, LU);
}

} // namespace
} // namespace kvr::engine::test
