#include "protocol/replies.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

namespace proto = kvr::protocol;
using proto::ReplyCheck;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t CR = 0x0D;

Bytes framed(const std::string& text) {
    Bytes b{SOH};
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(CR);
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- hex digit readings ----------------------------------------------------------------------

struct DigitCase {
    char c;
    int panel;   // -1: not a digit under the panel reading
    int library; // -1: ends the number under the library reading
};

class HexDigitTest : public ::testing::TestWithParam<DigitCase> {};

TEST_P(HexDigitTest, BothReadings) {
    const auto& d = GetParam();
    auto panel = proto::panelHexDigit(static_cast<std::uint8_t>(d.c));
    if (d.panel < 0) {
        EXPECT_FALSE(panel.has_value()) << d.c;
    } else {
        ASSERT_TRUE(panel.has_value()) << d.c;
        EXPECT_EQ(*panel, d.panel) << d.c;
    }
    // The library reading of a digit followed by a non-digit is that digit alone.
    std::uint8_t lib = proto::libraryHexByte(static_cast<std::uint8_t>(d.c), 'G');
    EXPECT_EQ(lib, d.library < 0 ? 0 : d.library) << d.c;
}

INSTANTIATE_TEST_SUITE_P(
    Characters, HexDigitTest,
    ::testing::Values(DigitCase{'0', 0, 0}, DigitCase{'9', 9, 9}, DigitCase{'A', 10, 10},
                      DigitCase{'F', 15, 15},
                      // Panel: lower case is not a digit; the library accepts it.
                      DigitCase{'a', -1, 10}, DigitCase{'f', -1, 15},
                      // Panel arithmetic (above '9': minus 55) reads ':'..'@' as 3..9.
                      DigitCase{':', 3, -1}, DigitCase{'@', 9, -1}, DigitCase{'G', -1, -1},
                      DigitCase{'/', -1, -1}, DigitCase{' ', -1, -1}, DigitCase{'\0', -1, -1},
                      DigitCase{'\xFF', -1, -1}));

struct PairCase {
    const char* digits;
    int panel; // -1: refused
    int library;
};

class HexPairTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(HexPairTest, BothReadings) {
    const auto& p = GetParam();
    auto hi = static_cast<std::uint8_t>(p.digits[0]);
    auto lo = static_cast<std::uint8_t>(p.digits[1]);
    auto panel = proto::readHexByte(proto::HexReading::Panel, hi, lo);
    EXPECT_EQ(panel.has_value(), p.panel >= 0) << p.digits;
    if (panel) {
        EXPECT_EQ(*panel, p.panel) << p.digits;
    }
    auto library = proto::readHexByte(proto::HexReading::Library, hi, lo);
    ASSERT_TRUE(library.has_value());
    EXPECT_EQ(*library, p.library) << p.digits;
}

INSTANTIATE_TEST_SUITE_P(Pairs, HexPairTest,
                         ::testing::Values(PairCase{"00", 0, 0}, PairCase{"0A", 10, 10},
                                           PairCase{"FF", 255, 255}, PairCase{"9E", 0x9E, 0x9E},
                                           PairCase{"ab", -1, 0xAB}, PairCase{"Ff", -1, 0xFF},
                                           PairCase{"G1", -1, 0x00}, PairCase{"1G", -1, 0x01},
                                           PairCase{"  ", -1, 0}, PairCase{"7:", 0x73, 0x07}));

// ---- panel and memory tools: parameter replies ------------------------------------------------

TEST(ParameterReply, DecodesBothBytesAndKeepsTheDigits) {
    auto r = proto::judgeParameterReply(framed("0AFF"));
    ASSERT_TRUE(r.valid());
    EXPECT_EQ(r.value.first, 10);
    EXPECT_EQ(r.value.second, 255);
    EXPECT_EQ(r.value.word(), 0x0AFF);
    EXPECT_EQ(r.value.firstText(), "0A");
    EXPECT_EQ(r.value.secondText(), "FF");
}

struct JudgeCase {
    const char* what;
    Bytes reply;
    ReplyCheck check;
};

class ParameterJudgeTest : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(ParameterJudgeTest, Classifies) {
    EXPECT_EQ(proto::judgeParameterReply(GetParam().reply).check, GetParam().check)
        << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ParameterJudgeTest,
    ::testing::Values(
        JudgeCase{"good", framed("3250"), ReplyCheck::Valid},
        JudgeCase{"last byte not CR", Bytes{SOH, '0', 'A', 'F', 'F', 'X'}, ReplyCheck::BadFraming},
        JudgeCase{"first byte not SOH", Bytes{0x02, '0', 'A', 'F', 'F', CR},
                  ReplyCheck::BadFraming},
        JudgeCase{"five bytes", Bytes{SOH, '0', 'A', 'F', CR}, ReplyCheck::WrongLength},
        JudgeCase{"seven bytes", cat(framed("0AFF"), {'x'}), ReplyCheck::WrongLength},
        JudgeCase{"nothing", Bytes{}, ReplyCheck::WrongLength},
        JudgeCase{"acknowledge instead", framed("0"), ReplyCheck::WrongLength},
        JudgeCase{"lower-case digits", framed("0aff"), ReplyCheck::BadDigits},
        JudgeCase{"blank digit", framed("0 FF"), ReplyCheck::BadDigits}));

// ---- the library's tail tests -----------------------------------------------------------------

TEST(TailValueReply, ReadsTheLastSixBytes) {
    auto w = proto::tailValueReply(framed("4A37"));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->first, 0x4A);
    EXPECT_EQ(w->second, 0x37);
    EXPECT_EQ(w->secondText(), "37");

    // Stray bytes in front (a touch packet, an old acknowledge) do no harm.
    w = proto::tailValueReply(cat(Bytes{0xC0, 0x12, SOH, '0', CR}, framed("9f0a")));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->first, 0x9F);
    EXPECT_EQ(w->second, 0x0A);
}

TEST(TailValueReply, StopsAtTheFirstNonHexCharacter) {
    auto w = proto::tailValueReply(framed("1GZ5"));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->first, 0x01);
    EXPECT_EQ(w->second, 0x00);
}

TEST(ValueReplies, EitherReadingOnEitherTest) {
    const Bytes lower = framed("9f0a");
    // Exact test, library reading: lower case is fine.
    auto exact = proto::judgeParameterReply(lower, proto::HexReading::Library);
    ASSERT_TRUE(exact.valid());
    EXPECT_EQ(exact.value.word(), 0x9F0A);
    // Tail test, panel reading: lower case is no digit, so no value.
    EXPECT_FALSE(proto::tailValueReply(cat(Bytes{'x'}, lower), proto::HexReading::Panel));
    auto upper = proto::tailValueReply(cat(Bytes{'x'}, framed("9F0A")), proto::HexReading::Panel);
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(upper->word(), 0x9F0A);
}

TEST(TailValueReply, RefusesWhatIsNotAValueReplyAtTheEnd) {
    EXPECT_FALSE(proto::tailValueReply(Bytes{SOH, '0', 'A', 'F', CR}));      // n < 6
    EXPECT_FALSE(proto::tailValueReply(cat(framed("0AFF"), {'x'})));         // CR not last
    EXPECT_FALSE(proto::tailValueReply(Bytes{'x', SOH, 'A', 'F', 'F', CR})); // SOH at n-5
    EXPECT_FALSE(proto::tailValueReply(Bytes{}));
}

struct AckCase {
    const char* what;
    Bytes reply;
    bool acknowledgement; // tail test
    bool shortTest;       // tail short test
    bool exact;           // judgeAcknowledge
    bool status;          // judgeAcknowledgeStatus
    bool starts;          // startsWithAcknowledge
};

class AcknowledgeTest : public ::testing::TestWithParam<AckCase> {};

TEST_P(AcknowledgeTest, EveryTestOnTheSameBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(proto::tailAcknowledgement(c.reply), c.acknowledgement) << c.what;
    EXPECT_EQ(proto::tailShortAcknowledgement(c.reply), c.shortTest) << c.what;
    EXPECT_EQ(proto::judgeAcknowledge(c.reply), c.exact) << c.what;
    EXPECT_EQ(proto::judgeAcknowledgeStatus(c.reply), c.status) << c.what;
    EXPECT_EQ(proto::startsWithAcknowledge(c.reply), c.starts) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AcknowledgeTest,
    ::testing::Values(AckCase{"done", framed("0"), true, true, true, true, true},
                      AckCase{"failure status", framed("1"), false, false, false, false, false},
                      AckCase{"done plus a fourth byte", cat(framed("0"), {'x'}), false, false,
                              false, true, true},
                      AckCase{"stray bytes, then done", cat(Bytes{'x', 'y'}, framed("0")), true,
                              true, false, false, false},
                      AckCase{"restart announcement after done", cat(framed("0"), framed("iT")),
                              false, false, false, true, true},
                      AckCase{"unframed status", Bytes{'a', '0', 'b'}, false, true, true, true,
                              false},
                      AckCase{"two bytes", Bytes{SOH, '0'}, false, false, false, false, false},
                      AckCase{"nothing", Bytes{}, false, false, false, false, false}));

// ---- identity replies -------------------------------------------------------------------------

TEST(UnitType, NeedsExactlyTenBytes) {
    auto t = proto::judgeUnitType(framed("NVLT3000"));
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(*t, "NVLT3000");
    EXPECT_TRUE(proto::isFamilyUnitType(*t));
    EXPECT_FALSE(proto::isFamilyUnitType("NVLT300"));
    EXPECT_FALSE(proto::isFamilyUnitType("nvlt3000"));
    EXPECT_FALSE(proto::judgeUnitType(framed("NVLT300")));
    EXPECT_FALSE(proto::judgeUnitType(cat(framed("NVLT3000"), {'x'})));
    auto other = proto::judgeUnitType(framed("ABCD1234"));
    ASSERT_TRUE(other.has_value());
    EXPECT_FALSE(proto::isFamilyUnitType(*other));
}

TEST(UnitType, ProbeAcceptsMoreThanFiveBytes) {
    EXPECT_FALSE(proto::probeAnswered(Bytes(5, 'x')));
    EXPECT_TRUE(proto::probeAnswered(Bytes(6, 'x')));
    EXPECT_TRUE(proto::probeAnswered(framed("NVLT3000")));
}

struct IdentityCase {
    Bytes reply;
    std::string text;
};

class IdentityTextTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityTextTest, KeepsPrintableBytesBetweenTheFramingBytes) {
    EXPECT_EQ(proto::identityText(GetParam().reply), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, IdentityTextTest,
    ::testing::Values(IdentityCase{framed("V32110"), "V32110"},
                      IdentityCase{framed("V3\t2\x1F"
                                          "1"),
                                   "V321"},                         // control codes dropped
                      IdentityCase{Bytes{SOH, 'A', 'B', CR}, "AB"}, // 4 bytes: the minimum
                      IdentityCase{Bytes{SOH, 'A', CR}, ""},        // 3 bytes: too short
                      IdentityCase{Bytes{}, ""},
                      // The last byte read is dropped whatever it is.
                      IdentityCase{Bytes{SOH, 'V', '1', '2', 'x'}, "V12"},
                      IdentityCase{Bytes{SOH, 0xB5, '9', CR}, "\xB5"
                                                              "9"}));

struct FirmwareCase {
    const char* text;
    std::uint32_t number;
};

class FirmwareNumberTest : public ::testing::TestWithParam<FirmwareCase> {};

TEST_P(FirmwareNumberTest, LeadingDigitsAfterTheFirstCharacter) {
    EXPECT_EQ(proto::firmwareNumber(GetParam().text), GetParam().number) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FirmwareNumberTest,
    ::testing::Values(FirmwareCase{"V32110", 32110}, FirmwareCase{"V32109", 32109},
                      FirmwareCase{"132110", 32110}, FirmwareCase{"V321x0", 321},
                      FirmwareCase{"V", 0}, FirmwareCase{"", 0}, FirmwareCase{"Vabc", 0},
                      FirmwareCase{"V 32110", 0}, FirmwareCase{"V4294967295", 4294967295u},
                      FirmwareCase{"V99999999999999", std::numeric_limits<std::uint32_t>::max()}));

TEST(FirmwareNumber, ThresholdOfTheNoiseLevelAddress) {
    EXPECT_LT(proto::firmwareNumber("V32109"), proto::kNoiseLevelFirmware);
    EXPECT_GE(proto::firmwareNumber("V32110"), proto::kNoiseLevelFirmware);
}

struct LevelCase {
    const char* what;
    Bytes reply;
    int level;
};

class ExtensionLevelTest : public ::testing::TestWithParam<LevelCase> {};

TEST_P(ExtensionLevelTest, FourDecimalDigits) {
    EXPECT_EQ(proto::extensionLevel(GetParam().reply), GetParam().level) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ExtensionLevelTest,
    ::testing::Values(LevelCase{"level 4", framed("0004"), 4},
                      LevelCase{"level 2", framed("0002"), 2},
                      LevelCase{"all digits weigh", framed("1234"), 1234},
                      LevelCase{"five bytes", Bytes{SOH, '0', '0', '4', CR}, 0},
                      LevelCase{"seven bytes", cat(framed("0004"), {'x'}), 0},
                      LevelCase{"framing not examined", Bytes{'x', '0', '0', '0', '4', 'y'}, 4},
                      LevelCase{"garbled digit", framed("000A"), 0},
                      LevelCase{"letter in front", framed("A004"), 0}));

TEST(Capability, TenthByteTwoMarksACapableController) {
    Bytes reply{'L', 'u', 'm', 'a', 'r', 'c', 'o', 'n', '0', '2'};
    EXPECT_TRUE(proto::judgeCapability(reply));
    EXPECT_FALSE(proto::judgeCapability(Bytes(reply.begin(), reply.end() - 1)));
    reply[9] = '1';
    EXPECT_FALSE(proto::judgeCapability(reply));
    reply[9] = '2';
    reply.push_back(CR);
    EXPECT_FALSE(proto::judgeCapability(reply));
}

} // namespace
