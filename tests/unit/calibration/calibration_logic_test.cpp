// The calibration programs' logic without a window or a driver: the message file, the
// argument rules, the target geometry and the capture driven by scripted library answers.

#include "calibration/capture.h"
#include "calibration/linearity.h"
#include "calibration/message_file.h"
#include "calibration/targets.h"
#include "calibration/three_point.h"

#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kvr::calibration {
namespace {

// What a message file gives: "scale first-text|last-text", or "format error".
std::string outcome(const std::string& text) {
    MessageTable t = threePointMessages();
    if (parseMessageText(text, t) != MessageFileStatus::Read) return "format error";
    return std::to_string(t.fontScale) + " " + t.texts[0] + "|" + t.texts[5];
}

TEST(CalibrationMessageFile, ScaleRulesAndSlots) {
    const std::string six = "a\nb\nc\nd\ne\nf\n";
    const std::pair<std::string, std::string> cases[] = {
        {"5\n" + six, "5 a|f"},
        {"12\n" + six, "2 a|f"},
        {"0\n" + six, "0 a|f"},
        {"8" + six, "8 a|f"},                           // "8a": the number, then the first text
        {"\n\n  4 \n\n   a\r\nb\nc\nd\ne\nf", "4 a|f"}, // blanks after the number skipped
        {"-4\n" + six, "3 a|f"},                        // negative: the default scale
        {"big\nb\nc\nd\ne\nf\n", "3 big|f"},            // no number: texts from line 1
        {"99999999999999\n" + six, "2 a|f"},
        {"1\nx\n\n\n\n\n\n", "1 x|"},           // blank lines after the first text are texts
        {"3\na\nb\nc\nd\ne\n", "format error"}, // five texts
        {"", "format error"},
        // A line of 300 bytes fills three slots (127, 127, 46 bytes).
        {"2\n" + std::string(300, 'x') + "\nd\ne\nf", "2 " + std::string(127, 'x') + "|f"},
        // Old files are in the Windows code page; UTF-8 files stay as they are, and a
        // character the 127-byte slot cuts in two is left out rather than garbled.
        {"2\nTouchez l\x92\xE9" "cran \x80\nb\nc\nd\ne\nf", "2 Touchez l\u2019\u00E9cran \u20AC|f"},
        {"2\n\u00C9cran\nb\nc\nd\ne\nf", "2 \u00C9cran|f"},
        {"2\n" + std::string(126, 'x') + "\u00E9\nd\ne\nf\ng", "2 " + std::string(126, 'x') + "|g"},
        // CR LF is one line end: a 126-character line fills one slot, its LF no second one.
        {"2\r\n" + std::string(126, 'x') + "\r\nb\r\nc\r\nd\r\ne\r\nf\r\n",
         "2 " + std::string(126, 'x') + "|f"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(outcome(text), expected) << text;

    MessageTable untouched = linearityMessages();
    EXPECT_EQ(readMessageFile("/nonexistent/msg.txt", untouched), MessageFileStatus::Missing);
    EXPECT_EQ(untouched.fontScale, kDefaultFontScale);
    EXPECT_EQ(untouched.texts[3], "Wait until timeout to abort executing.");
    EXPECT_EQ(threePointMessages().texts[3], "Wait until timeout to abort calibrating.");
    EXPECT_EQ(countdownText(untouched, 21), "Timeout Count: 21");
    EXPECT_EQ(fontScaleForDisplay(8, 640), 1);
    EXPECT_EQ(fontScaleForDisplay(8, 641), 8);
}

TEST(CalibrationArguments, LinearityRulesAndSettingsKey) {
    const std::pair<const char*, const char*> cases[] = {
        {"RS232_DEVICE0 -5", "RS232_DEVICE0 5"},
        {"-9 USB_DEVICE1", "USB_DEVICE1 9"},
        {"RS232_DEVICE3 -9 -5", "RS232_DEVICE3 5"},          // "-5" wins
        {"USB_DEVICE2 RS232_DEVICE1 -9", "RS232_DEVICE1 9"}, // the serial word wins
        {"RS232_DEVICE0", ""},
        {"-5", ""},
        {"rs232_device0 -5", ""},
    };
    for (const auto& [arguments, expected] : cases) {
        const auto parsed = parseLinearityArguments(arguments);
        EXPECT_EQ(parsed ? parsed->controllerName + " " + std::to_string(parsed->gridSize) : "",
                  expected)
            << arguments;
    }
    EXPECT_EQ(controllerSettingsKey("RS232_DEVICE0"),
              "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\DEVICE0");
}

TEST(CalibrationTargets, GeometryInDisplayUnits) {
    // (W * X) >> 12 in 32 bits (pixels of the window are checked in the window tests).
    EXPECT_EQ(targetPixel(1023, 767, threePointTargets(3968, 128)[1]), (TargetPixel{991, 743}));
    // Offsets beyond the display wrap and shift arithmetically, with no overflow trap.
    EXPECT_EQ(targetPixel(1024, 768, threePointTargets(-4096, 0)[2]), (TargetPixel{-1024, 0}));
    EXPECT_EQ(targetPixel(65536, 1, TargetUnits{65536, 0}).px, 0); // 2^32 wraps to 0
    const std::vector<TargetUnits> five = {
        {2048, 2048}, {3968, 128}, {128, 128}, {128, 3968}, {3968, 3968}};
    EXPECT_EQ(linearityTargets(kFiveTargets), five);
    const auto nine = linearityTargets(kNineTargets);
    ASSERT_EQ(nine.size(), 9U);
    EXPECT_EQ(nine[1], (TargetUnits{3968, 2048}));
    EXPECT_EQ(nine[7], (TargetUnits{2048, 3968}));
}

// The next scripted answer of the library; 0 once the script is used up.
int next(std::deque<int>& script) {
    if (script.empty()) return 0;
    const int answer = script.front();
    script.pop_front();
    return answer;
}

TEST(CalibrationCapture, BlinkBeepHoldAndLift) {
    // captured: 0 none, 1 a point (the point is {100 + tick, 200}); penUp: 1 once lifted.
    struct {
        std::deque<int> captured, penUp;
        std::vector<int> armed;
        int ticks = 0;
    } lib;
    Capture capture(3, {.arm = [&](std::uint8_t t) { lib.armed.push_back(t); },
                        .captured =
                            [&](RawPoint& p) {
                                p = {100 + lib.ticks++, 200};
                                return next(lib.captured);
                            },
                        .penUp = [&] { return next(lib.penUp); },
                        .settle = [] {}});
    // Waiting: red, white, red.
    for (TargetColour want : {TargetColour::Red, TargetColour::White, TargetColour::Red}) {
        const TickResult r = capture.tick();
        EXPECT_EQ(r.colour, want);
        EXPECT_FALSE(r.pressBeep);
    }
    // A press held for 21 ticks: one beep, then re-armed, then the next tick beeps again.
    lib.captured.assign(23, 1);
    lib.penUp.assign(22, 0);
    lib.penUp.push_back(1);
    for (int i = 0; i < 22; ++i) {
        const TickResult r = capture.tick();
        EXPECT_EQ(r.colour, TargetColour::Yellow);
        EXPECT_EQ(r.pressBeep, i == 0 || i == 21) << i;
    }
    EXPECT_EQ(lib.armed, (std::vector<int>{0})); // re-armed once, after the 21st tick
    // The lift: the point of that tick is taken and target 1 is armed.
    const TickResult lift = capture.tick();
    EXPECT_TRUE(lift.pointBeep);
    EXPECT_EQ(lift.target, 0U);
    EXPECT_EQ(capture.current(), 1U);
    ASSERT_EQ(capture.points().size(), 1U);
    EXPECT_EQ(capture.points()[0], (RawPoint{100 + 25, 200}));
    EXPECT_EQ(lib.armed, (std::vector<int>{0, 1}));

    // Two quick taps finish; an unknown answer does nothing.
    lib.captured = {7, 1, 1};
    lib.penUp = {1, 1};
    EXPECT_FALSE(capture.tick().colour);
    EXPECT_FALSE(capture.tick().finished);
    const TickResult last = capture.tick();
    EXPECT_TRUE(last.finished && last.pointBeep && last.pressBeep);
    EXPECT_EQ(lib.armed, (std::vector<int>{0, 1, 2})); // nothing armed after the last
    EXPECT_FALSE(capture.tick().colour);               // finished: ticks do nothing

    capture.restart();
    EXPECT_EQ(capture.current(), 0U);
    EXPECT_TRUE(capture.points().empty());
    EXPECT_EQ(lib.armed.back(), 0);
}

} // namespace
} // namespace kvr::calibration
