// cal3pt's and linear's windows in-process (offscreen) against the real driver daemon and an
// emulated controller: touches on the emulator drive the capture, the save tap is a click on
// the window, and what was stored is read back from the settings store and the frames the
// controller received. Pixels of grab() check the targets' places and colours.

#include "calibration/programs.h"
#include "gui/message_box.h"
#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/qt_support.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace kvr::calibration {
namespace {

using test::grabImage;
using test::waitForGui;
using test::tsapi::Bench;
using test::tsapi::Sim;
using Screen = CalibrationWindow::Screen;

constexpr const char* kDeviceKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device0";
const QColor kRed(255, 0, 0), kYellow(255, 255, 0), kWhite(255, 255, 255);
const char* const kCalibrationValues[] = {"CP1X", "CP1Y", "CP2X", "CP2Y", "CP3X", "CP3Y"};

class CalibrationWindows : public ::testing::Test {
protected:
    // The bench with one controller whose driver runs in report mode `mode`.
    void start(const char* profile, std::uint8_t mode = 2,
               const char* displays = "DISPLAY1:0,0,1024,768") {
        ::setenv("KVR_DISPLAYS", displays, 1);
        ::setenv("KVR_MESSAGE_ANSWERS", "ok", 1);
        ::setenv("KVR_CONFIG_DIR", test::makeTempDir("config").c_str(), 1);
        gui::resetAutomatedAnswers();
        ASSERT_TRUE(bench_.ready()) << bench_.diagnostics();
        sim_ = bench_.addSerial(0, 1, Sim::profile(profile));
        ASSERT_NE(sim_, nullptr);
        ASSERT_TRUE(test::tsapi::Client().setReportMode(0, mode));
    }
    std::uint8_t driverReportMode() {
        test::tsapi::OpenedController c("RS232_DEVICE0");
        return GetReportMode(c.handle());
    }
    std::size_t mark() const { return sim_->frameTexts().size(); }
    // The program asked for report `mode` after frame `from`: the library tells the controller
    // first and switches the driver once the controller has acknowledged; when every one of
    // its four attempts got its reply too late (a loaded machine), the driver keeps its mode.
    ::testing::AssertionResult modeAskedFor(std::uint8_t mode, std::size_t from) {
        const std::uint8_t now = driverReportMode();
        const std::size_t attempts = test::tsapi::countFrames(*sim_, mode == 3 ? "MP" : "MS", from);
        if (now == mode || attempts >= 4) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "driver mode " << int(now) << " after " << attempts << " mode commands";
    }
    std::vector<std::uint32_t> storedCalibration() {
        std::vector<std::uint32_t> values;
        for (const char* name : kCalibrationValues) {
            std::uint32_t v = 0xDEADBEEF;
            reg::queryDword(kDeviceKey, name, v);
            values.push_back(v);
        }
        return values;
    }
    // The colour of target k's inner ring, right of its centre.
    static QColor ring(CalibrationWindow& w, std::size_t k) {
        return grabImage(&w).pixelColor(w.targetPoint(k) + QPoint(10, 0));
    }

    // Touch target k at `raw`, see it turn yellow while held, lift, see the capture move on.
    void takePoint(CalibrationWindow& w, std::size_t k, RawPoint raw, int samples) {
        SCOPED_TRACE(k);
        const std::string at = std::to_string(raw.x) + " " + std::to_string(raw.y);
        ASSERT_TRUE(sim_->play({"touch " + at + " " + std::to_string(samples)}));
        ASSERT_TRUE(waitForGui([&] { return ring(w, k) == kYellow; }));
        ASSERT_TRUE(sim_->play({"lift"}));
        ASSERT_TRUE(waitForGui([&] { return w.currentTarget() > k; }));
    }

    void takePoints(CalibrationWindow& w, const std::vector<RawPoint>& raw, int samples) {
        for (std::size_t k = 0; k < raw.size(); ++k)
            ASSERT_NO_FATAL_FAILURE(takePoint(w, k, raw[k], samples));
        ASSERT_TRUE(waitForGui([&] { return w.screen() == Screen::SavePrompt || !w.isVisible(); }));
    }

    // cal3pt's session and its window, started (the window goes first).
    struct ThreePoint {
        std::unique_ptr<ThreePointSession> session;
        std::unique_ptr<CalibrationWindow> window;
    };
    static ThreePoint
    openThreePoint(std::chrono::milliseconds countdown = std::chrono::milliseconds(500)) {
        ThreePoint run{ThreePointSession::open("RS232_DEVICE0").session, nullptr};
        if (!run.session) return run;
        WindowSetup setup = threePointWindowSetup(*run.session, threePointMessages());
        setup.countdownInterval = countdown;
        run.window = std::make_unique<CalibrationWindow>(std::move(setup));
        run.window->start();
        return run;
    }

    Bench bench_;
    Sim* sim_ = nullptr;
    const std::vector<RawPoint> corners_ = {{130, 120}, {3950, 3900}, {3940, 140}};
};

TEST_F(CalibrationWindows, ThreePointCaptureAndSaveTapStoreTheCapturedPoints) {
    ASSERT_NO_FATAL_FAILURE(start("nvlt3000-e", 1));
    const std::size_t opening = mark();
    auto run = openThreePoint();
    ASSERT_TRUE(run.window);
    CalibrationWindow& w = *run.window;
    EXPECT_TRUE(modeAskedFor(2, opening)); // drawing mode while calibrating
    EXPECT_EQ(w.objectName(), "CAL3PT");
    EXPECT_EQ(w.geometry(), QRect(0, 0, 1024, 768));

    ASSERT_NO_FATAL_FAILURE(takePoints(w, corners_, 40));
    EXPECT_EQ(w.countdownLeft(), CalibrationWindow::kCountdownTicks);
    EXPECT_EQ(ring(w, 0), CalibrationWindow::kBackground); // the full repaint
    EXPECT_TRUE(w.accessibleDescription().contains("Timeout Count: 21"));

    const std::size_t saving = mark();
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(512, 384));
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(storedCalibration(), (std::vector<std::uint32_t>{130, 120, 3950, 3900, 3940, 140}));
    EXPECT_TRUE(modeAskedFor(1, saving)); // the saved mode is back
}

TEST_F(CalibrationWindows, ThreePointSetTheDriverRefusesIsReportedAndCapturedAgain) {
    ASSERT_NO_FATAL_FAILURE(start("nvlt3000-e"));
    const auto before = storedCalibration();
    auto run = openThreePoint();
    ASSERT_TRUE(run.window);
    CalibrationWindow& w = *run.window;
    // Three points on one line: the driver cannot calibrate with them.
    ASSERT_NO_FATAL_FAILURE(takePoints(w, {{1000, 1000}, {2000, 2000}, {3000, 3000}}, 40));

    ::testing::internal::CaptureStderr();
    QTest::mouseClick(&w, Qt::LeftButton);
    const std::string boxes = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(boxes.find("messagebox: Error: Calibration ERROR"), std::string::npos) << boxes;
    EXPECT_EQ(storedCalibration(), before);
    EXPECT_EQ(w.screen(), Screen::Capture);
    EXPECT_TRUE(w.isVisible());
    ASSERT_NO_FATAL_FAILURE(takePoint(w, 0, {150, 150}, 40)); // the capture runs again
}

TEST_F(CalibrationWindows, ThreePointEscapeAndCountdownStoreNothingAndRestoreTheMode) {
    ASSERT_NO_FATAL_FAILURE(start("nvlt3000-e", 1));
    const auto before = storedCalibration();
    for (bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Esc after one point" : "countdown run out");
        auto run = openThreePoint(std::chrono::milliseconds(5));
        ASSERT_TRUE(run.window);
        const std::size_t from = mark();
        if (escape) {
            ASSERT_NO_FATAL_FAILURE(takePoint(*run.window, 0, corners_[0], 40));
            QTest::keyClick(run.window.get(), Qt::Key_Escape);
        } else {
            ASSERT_NO_FATAL_FAILURE(takePoints(*run.window, corners_, 40));
            ASSERT_TRUE(waitForGui([&] { return !run.window->isVisible(); }));
            EXPECT_EQ(run.window->countdownLeft(), 0);
        }
        EXPECT_FALSE(run.window->isVisible());
        EXPECT_TRUE(modeAskedFor(1, from));
    }
    EXPECT_EQ(storedCalibration(), before);
}

TEST_F(CalibrationWindows, TargetsAndTextsWhereTheyBelong) {
    struct Case {
        const char* displays;
        std::uint32_t bpx, bpy;
        QPoint target0;
        int scale;
    } cases[] = {
        // The default scale 3 makes the longest text (57 cells of 30 pixels) 1710 pixels
        // wide: only a display that wide keeps it; a smaller one gets the largest scale that
        // fits.
        {"DISPLAY1:0,0,1024,768", 0, 0, {1024, 0}, 1},   // corners: point 0 top right
        {"ODD:100,50,1123,817", 3968, 128, {31, 23}, 1}, // 1023 x 767: 130944 >> 12
        {"SMALL:0,0,640,480", 3968, 128, {20, 15}, 1},   // narrow: scale 1
        {"WIDE:0,0,1920,1080", 0, 0, {1920, 0}, 3},
    };
    ASSERT_NO_FATAL_FAILURE(start("nvlt3000-e", 2, cases[0].displays));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.displays);
        ::setenv("KVR_DISPLAYS", c.displays, 1);
        ASSERT_EQ(reg::setDword(kDeviceKey, "BPX", c.bpx), reg::Status::Ok);
        ASSERT_EQ(reg::setDword(kDeviceKey, "BPY", c.bpy), reg::Status::Ok);
        auto run = openThreePoint(); // the first tick draws target 0 red at once
        ASSERT_TRUE(run.window);
        CalibrationWindow& w = *run.window;
        EXPECT_EQ(w.targetPoint(0), c.target0);
        EXPECT_EQ(w.fontScale(), c.scale);
        const QImage image = grabImage(&w);
        const QPoint t = c.target0;
        EXPECT_EQ(image.pixelColor(t - QPoint(10, 0)), kRed);
        EXPECT_EQ(image.pixelColor(t - QPoint(15, 0)), kRed);
        EXPECT_EQ(image.pixelColor(t - QPoint(13, 0)), CalibrationWindow::kBackground);
        if (t.x() < w.width()) {
            EXPECT_EQ(image.pixelColor(t), kWhite); // the disc
        }
        // The cancel line (red, from centre + 50) is there and centred.
        int left = w.width(), right = -1;
        for (int y = w.height() / 2 + 50; y < w.height() / 2 + 50 + 10 * c.scale; ++y)
            for (int x = 0; x < w.width(); ++x)
                if (image.pixelColor(x, y) == kRed)
                    left = std::min(left, x), right = std::max(right, x);
        ASSERT_GE(right, 0);
        EXPECT_NEAR((left + right) / 2, w.width() / 2, 2);
    }
}

TEST_F(CalibrationWindows, LinearFivePointsFillTheEvenSlotsAndTheSaveWritesTheTable) {
    ASSERT_NO_FATAL_FAILURE(start("nvlt3000-e", 3));
    const std::size_t opening = mark();
    auto opened = LinearitySession::open("RS232_DEVICE0 -5");
    ASSERT_TRUE(opened.session) << opened.exitCode;
    EXPECT_TRUE(modeAskedFor(2, opening));
    // The three-point calibration is back at the base point's own targets (3968, 128).
    EXPECT_EQ(storedCalibration(), (std::vector<std::uint32_t>{128, 128, 3968, 3968, 3968, 128}));
    CalibrationWindow w(linearityWindowSetup(*opened.session, linearityMessages()));
    w.start();
    EXPECT_EQ(w.objectName(), "LINEAR");

    const std::vector<RawPoint> raw = {
        {2000, 2100}, {3900, 150}, {150, 140}, {160, 3900}, {3950, 3920}};
    const std::size_t capturing = mark();
    ASSERT_NO_FATAL_FAILURE(takePoints(w, raw, 70));
    EXPECT_TRUE(modeAskedFor(3, capturing));
    EXPECT_GE(test::tsapi::countFrames(*sim_, "R"), 1U);

    std::size_t from = mark();
    ::testing::internal::CaptureStderr();
    QTest::mouseClick(&w, Qt::LeftButton);
    const bool refused =
        ::testing::internal::GetCapturedStderr().find("Calibration ERROR") != std::string::npos;
    EXPECT_FALSE(w.isVisible());
    if (refused) {
        // Every attempt at one word got its acknowledgement too late (a loaded machine): the
        // library's table is stored again, as the next save would. (Attempts of the failed
        // store may still be on the line: the frames are taken from the new "Z" on.)
        from = mark();
        test::tsapi::OpenedController c("RS232_DEVICE0");
        ASSERT_EQ(StoreCalibrationData(c.handle()), 1);
        auto frames = test::tsapi::framesSince(*sim_, from);
        from +=
            static_cast<std::size_t>(std::find(frames.begin(), frames.end(), "Z") - frames.begin());
    }
    RawPoint table[9];
    for (std::size_t k = 0; k < 5; ++k)
        table[2 * k] = raw[k];
    const auto mid = [](RawPoint a, RawPoint b) {
        return RawPoint{(a.x + b.x) / 2, (a.y + b.y) / 2};
    };
    table[1] = mid(table[2], table[8]);
    for (int s : {3, 5, 7})
        table[s] = mid(table[s - 1], table[s + 1]);
    std::vector<std::string> expected{"Z"};
    for (unsigned s = 0; s < 9; ++s) {
        char x[16], y[16];
        std::snprintf(x, sizeof x, "SP%02X%04X", 0x10 + 2 * s, unsigned(table[s].x));
        std::snprintf(y, sizeof y, "SP%02X%04X", 0x11 + 2 * s, unsigned(table[s].y));
        expected.insert(expected.end(), {x, y});
    }
    expected.push_back("PL");
    EXPECT_TRUE(test::tsapi::sameExchanges(test::tsapi::framesSince(*sim_, from), expected));
    // A saved table keeps the three-point calibration it was measured against.
    opened.session->close();
    if (!refused) {
        EXPECT_EQ(storedCalibration(),
                  (std::vector<std::uint32_t>{128, 128, 3968, 3968, 3968, 128}));
    }
}

TEST_F(CalibrationWindows, LinearEscapePutsBackTheCalibrationInForceBefore) {
    ASSERT_NO_FATAL_FAILURE(start("nvlt3000-e", 2));
    {
        test::tsapi::OpenedController c("RS232_DEVICE0");
        const std::int32_t user[6] = {3900, 200, 150, 3850, 3950, 3900};
        ASSERT_EQ(SaveCalibrationData(c.handle(), user, 24), 1);
    }
    const auto before = storedCalibration();
    ASSERT_EQ(before, (std::vector<std::uint32_t>{3900, 200, 150, 3850, 3950, 3900}));
    auto opened = LinearitySession::open("RS232_DEVICE0 -5");
    ASSERT_TRUE(opened.session) << opened.exitCode;
    EXPECT_NE(storedCalibration(), before) << "reset to the base point for the measurement";
    {
        CalibrationWindow w(linearityWindowSetup(*opened.session, linearityMessages()));
        w.start();
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible());
    }
    opened.session.reset();
    EXPECT_EQ(storedCalibration(), before);
}

TEST_F(CalibrationWindows, LinearWithoutHandshakeEndsWithNoWindowAndTheCaptureStopped) {
    ASSERT_NO_FATAL_FAILURE(start("mute", 1));
    const auto opened = LinearitySession::open("RS232_DEVICE0 -9");
    EXPECT_EQ(opened.exitCode, kExitNoHandshake);
    EXPECT_FALSE(opened.session);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    EXPECT_EQ(test::tsapi::countFrames(*sim_, "CR"), 10U);
    // Nothing armed any more: a touch moves the pointer again instead of being captured.
    ASSERT_TRUE(sim_->play({"tap 50% 50% 70"}));
    EXPECT_FALSE(bench_.serialDaemon()->waitRecords(1).empty());
    EXPECT_EQ(driverReportMode(), 1);
}

} // namespace
} // namespace kvr::calibration
