// The logic of the memory tools apart from any controller: the failure counting of an image
// read, the name list of the controller search, the settings fallbacks, the pin entry and the
// wiring word.

#include "memtools/controller_search.h"
#include "memtools/image_transfer.h"
#include "memtools/pin_definition.h"
#include "memtools/settings_transfer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kvr::memtools {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Verdict = WordReadJudge::Verdict;

Bytes framed(const std::string& text) {
    Bytes b(text.size() + 2, 0x01);
    for (std::size_t i = 0; i < text.size(); ++i)
        b[i + 1] = static_cast<std::uint8_t>(text[i]);
    b.back() = 0x0D;
    return b;
}

TEST(ImageRead, FailureCountingRetriesAndAbandons) {
    const Bytes good = framed("12AB");
    const Bytes badFrame = {0x41, '1', '2', 'A', 'B', 0x0D};
    const Bytes badDigits = framed("12ab");
    const Bytes shortReply = {0x01, '1', '2', 0x0D};
    const Bytes none;
    struct Case {
        const char* what;
        std::vector<Bytes> replies;
        std::vector<Verdict> verdicts;
    };
    const Case cases[] = {
        {"valid", {good}, {Verdict::Stored}},
        {"two wrong lengths tolerated",
         {none, shortReply, good},
         {Verdict::Retry, Verdict::Retry, Verdict::Stored}},
        {"a third wrong length abandons",
         {none, none, none},
         {Verdict::Retry, Verdict::Retry, Verdict::Abandon}},
        {"two bad frames abandon", {badFrame, badFrame}, {Verdict::Retry, Verdict::Abandon}},
        {"bad digits count as a bad frame",
         {badDigits, badFrame},
         {Verdict::Retry, Verdict::Abandon}},
        {"the count spans words",
         {none, good, none, none, good},
         {Verdict::Retry, Verdict::Stored, Verdict::Retry, Verdict::Retry, Verdict::Stored}},
        {"wrong length then bad frame", {none, badFrame}, {Verdict::Retry, Verdict::Abandon}},
    };
    for (const Case& c : cases) {
        WordReadJudge judge;
        ImageWord word;
        for (std::size_t i = 0; i < c.replies.size(); ++i)
            EXPECT_EQ(judge.judge(c.replies[i], word), c.verdicts[i]) << c.what << " #" << i;
    }
    WordReadJudge judge;
    ImageWord word;
    judge.judge(good, word);
    EXPECT_EQ(word, (ImageWord{0x12, 0xAB}));
}

TEST(ControllerSearch, NameListEntries) {
    const std::pair<const char*, const char*> cases[] = {
        {"RS232_DEVICE0", "RS232_DEVICE0"},
        {"USB_DEVICE3", "USB_DEVICE3"},
        {"RS232_DEVICE12", "RS232_DEVICE1"},
        {"xRS232_DEVICE5", "RS232_DEVICE5"},
        {"COM_DEVICE1", ""},
        {"USB_DEV0", ""},
        {"DEVICE_USB", ""},
        {"RS232_DEVICE", "RS232_DEVICE"},
    };
    for (const auto& [name, entry] : cases)
        EXPECT_EQ(nameListEntry(name), entry) << name;
}

TEST(SettingsFetch, RangesAndFallbacks) {
    const KeptRange& freq = kBackupProgramRules.buzzerFreq;
    EXPECT_EQ(keepInRange(99, freq), 1200);
    EXPECT_EQ(keepInRange(100, freq), 100);
    EXPECT_EQ(keepInRange(12000, freq), 12000);
    EXPECT_EQ(keepInRange(12001, freq), 1200);
    EXPECT_EQ(keepInRange(0, kBackupProgramRules.reportMode), 1);
    EXPECT_EQ(keepInRange(4294967295LL, kBackupProgramRules.buzzerDuration), 25);
    EXPECT_EQ(keepInRange(150, kControlPanelRules.buzzerDuration), 150);
}

TEST(PinEntry, PinsSequencesAndCodes) {
    struct Case {
        bool fourWire;
        std::vector<std::string> choices;
        std::vector<std::string> labels; // pin label after each assignment but the last
        std::string codeLabel;
    };
    const Case cases[] = {
        {false, {"Y+/UL", "X-/UR", "Y-/LR", "X+/LL"}, {"Pin #2", "Pin #4", "Pin #5"}, "[0] YXYX"},
        {true, {"X-/UR", "X+/LL", "Y+/UL", "Y-/LR"}, {"Pin #2", "Pin #3", "Pin #4"}, "[5] XXYY"},
        {false, {"Y+/UL", "X-/UR", "X+/LL", "Y-/LR"}, {"Pin #2", "Pin #4", "Pin #5"}, "[1] YXXY"},
        {true, {" X-/UR ", "Y+/UL", "X+/LL", "Y-/LR"}, {"Pin #2", "Pin #3", "Pin #4"}, "[3] XYXY"},
    };
    for (const Case& c : cases) {
        PinEntry e;
        e.reset(c.fourWire);
        for (std::size_t i = 0; i < c.choices.size(); ++i) {
            ASSERT_TRUE(e.assign(c.choices[i])) << c.codeLabel;
            if (i < c.labels.size()) {
                EXPECT_EQ(e.pinLabel(), c.labels[i]);
            }
        }
        EXPECT_TRUE(e.finished());
        EXPECT_EQ(e.codeLabel(), c.codeLabel);
    }
    PinEntry e;
    e.assign("Y+/UL");
    EXPECT_EQ(e.assignments()[0], "Y+/UL <----> Pin #1");
    EXPECT_FALSE(e.assign("Y+/UL")) << "no longer offered";
    e.assign("X-/UR");
    e.reset(true);
    EXPECT_EQ(e.remainingChoices().size(), 4u);
    EXPECT_EQ(e.pinLabel(), "Pin #1");
    EXPECT_EQ(e.sequence(), "");
}

TEST(PinEntry, WiringWordKeepsTheOtherBits) {
    auto word = [](const char* digits) {
        protocol::ParameterWord w;
        for (int i = 0; i < 4; ++i)
            w.digits[static_cast<std::size_t>(i)] = digits[i];
        return w;
    };
    struct Case {
        const char* current;
        std::uint16_t code;
        const char* first;
        const char* second;
    };
    const Case cases[] = {
        {"104C", 2, "10", "4A"}, {"1043", 2, "10", "42"}, {"FF08", 5, "FF", "0D"},
        {"0007", 0, "00", "00"}, {"A1F9", 3, "A1", "FB"},
    };
    for (const Case& c : cases) {
        const WiringWord w = wiringWord(word(c.current), c.code);
        EXPECT_EQ(w.first, c.first) << c.current;
        EXPECT_EQ(w.second, c.second) << c.current;
    }
    EXPECT_EQ(wiringCode("XYYX", false), 1);
    EXPECT_EQ(wiringCode("YYXX", true), 5);
    EXPECT_FALSE(wiringCode("XXXY", false));
}

} // namespace
} // namespace kvr::memtools
