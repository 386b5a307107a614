#include "protocol/commands.h"
#include "protocol/frame.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using kvr::protocol::CommandFrame;
using Bytes = std::vector<std::uint8_t>;

Bytes sent(const CommandFrame& frame) {
    return Bytes(frame.bytes().begin(), frame.bytes().end());
}

Bytes frameOf(const std::string& text) {
    Bytes b{0x01};
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0x0D);
    return b;
}

struct CommandCase {
    std::string text;
    Bytes expected;
};

class BuildCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(BuildCommandTest, FramesTheTextBetweenSohAndCr) {
    CommandFrame frame;
    EXPECT_TRUE(kvr::protocol::BuildCommand(frame, GetParam().text));
    EXPECT_EQ(sent(frame), GetParam().expected);
    EXPECT_EQ(frame.CommandLength, GetParam().text.size() + 2);
}

INSTANTIATE_TEST_SUITE_P(Frames, BuildCommandTest,
                         ::testing::Values(CommandCase{"R", {0x01, 'R', 0x0D}},
                                           CommandCase{"RD", {0x01, 'R', 'D', 0x0D}},
                                           CommandCase{"Uu", {0x01, 'U', 'u', 0x0D}},
                                           CommandCase{"UT", {0x01, 'U', 'T', 0x0D}},
                                           CommandCase{"SE3", {0x01, 'S', 'E', '3', 0x0D}},
                                           CommandCase{"iH1", {0x01, 'i', 'H', '1', 0x0D}},
                                           CommandCase{"", {0x01, 0x0D}},
                                           // Bytes are passed as they are, including high ones.
                                           CommandCase{"\xE9", {0x01, 0xE9, 0x0D}}));

TEST(BuildCommand, FillsTheWholeBufferAndRefusesOneByteMore) {
    CommandFrame frame;
    std::string longest(kvr::protocol::kMaxCommandText, 'A');
    EXPECT_TRUE(kvr::protocol::BuildCommand(frame, longest));
    EXPECT_EQ(frame.CommandLength, kvr::protocol::kCommandBufferSize);
    EXPECT_EQ(frame.CommandBuffer.back(), 0x0D);

    EXPECT_FALSE(kvr::protocol::BuildCommand(frame, longest + "A"));
    EXPECT_EQ(frame.CommandLength, 0);
    EXPECT_TRUE(frame.bytes().empty());
}

TEST(BuildGetParameter, BuildsSixBytesForTwoDigitAddresses) {
    CommandFrame frame;
    EXPECT_TRUE(kvr::protocol::BuildGetParameter(frame, "9C"));
    EXPECT_EQ(sent(frame), (Bytes{0x01, 'G', 'P', '9', 'C', 0x0D}));
    EXPECT_EQ(frame.CommandLength, 6);
}

TEST(BuildSetParameter, BuildsTenBytes) {
    CommandFrame frame;
    EXPECT_TRUE(kvr::protocol::BuildSetParameter(frame, "01", "05", "03"));
    EXPECT_EQ(sent(frame), (Bytes{0x01, 'S', 'P', '0', '1', '0', '5', '0', '3', 0x0D}));
    EXPECT_EQ(frame.CommandLength, 10);
}

// Every wrong width leaves length 0 and the previous frame's bytes in the buffer.
struct RefusalCase {
    const char* what;
    std::string address, first, second; // first == "-" means a get-parameter build
};

class ParameterRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ParameterRefusalTest, SetsLengthZeroAndKeepsTheOldBytes) {
    const auto& c = GetParam();
    CommandFrame frame;
    ASSERT_TRUE(kvr::protocol::BuildSetParameter(frame, "9F", "32", "50"));
    const auto before = frame.CommandBuffer;

    bool built = c.first == "-"
                     ? kvr::protocol::BuildGetParameter(frame, c.address)
                     : kvr::protocol::BuildSetParameter(frame, c.address, c.first, c.second);
    EXPECT_FALSE(built) << c.what;
    EXPECT_EQ(frame.CommandLength, 0) << c.what;
    EXPECT_EQ(frame.CommandBuffer, before) << c.what;
    EXPECT_TRUE(frame.bytes().empty()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    WrongWidths, ParameterRefusalTest,
    ::testing::Values(RefusalCase{"get, one digit", "9", "-", ""},
                      RefusalCase{"get, three digits", "9CC", "-", ""},
                      RefusalCase{"get, empty", "", "-", ""},
                      RefusalCase{"set, byte of three digits", "01", "100", "03"},
                      RefusalCase{"set, second byte of three digits", "01", "05", "1FF"},
                      RefusalCase{"set, byte never read (empty)", "03", "", "FA"},
                      RefusalCase{"set, one-digit address", "1", "05", "03"},
                      RefusalCase{"set, one-digit byte", "01", "5", "03"}));

TEST(ProgramCommand, BuildersShareOneModuleWideFrame) {
    auto& frame = kvr::protocol::programCommand();
    EXPECT_TRUE(kvr::protocol::BuildCommand(kvr::protocol::command::kUnitType));
    EXPECT_EQ(sent(frame), frameOf("UT"));
    EXPECT_TRUE(kvr::protocol::BuildGetParameter("98"));
    EXPECT_EQ(sent(frame), frameOf("GP98"));
    EXPECT_TRUE(kvr::protocol::BuildSetParameter("98", "00", "F1"));
    EXPECT_EQ(sent(frame), frameOf("SP9800F1"));
    EXPECT_FALSE(kvr::protocol::BuildSetParameter("98", "", "F1"));
    EXPECT_EQ(frame.CommandLength, 0);
    EXPECT_EQ(frame.CommandBuffer[3], '9'); // old bytes still there
}

struct HexCase {
    std::uint32_t value;
    const char* text;
};

class HexTextTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexTextTest, FormatsTwoUpperCaseDigitsAtLeast) {
    EXPECT_EQ(kvr::protocol::hexText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, HexTextTest,
                         ::testing::Values(HexCase{0, "00"}, HexCase{15, "0F"}, HexCase{10, "0A"},
                                           HexCase{0x9C, "9C"}, HexCase{255, "FF"},
                                           HexCase{256, "100"}, HexCase{0xFFFFFFFF, "FFFFFFFF"}));

TEST(HexText, ValuesAboveAByteAreNeverSentCutDown) {
    CommandFrame frame;
    EXPECT_TRUE(kvr::protocol::BuildSetParameter(frame, "9F", kvr::protocol::hexText(250),
                                                 kvr::protocol::hexText(20)));
    EXPECT_EQ(sent(frame), frameOf("SP9FFA14"));
    EXPECT_FALSE(kvr::protocol::BuildSetParameter(frame, "9F", kvr::protocol::hexText(256),
                                                  kvr::protocol::hexText(20)));
    EXPECT_EQ(frame.CommandLength, 0);
    EXPECT_EQ(kvr::protocol::hexWordText(0x0A37), "0A37");
    EXPECT_EQ(kvr::protocol::hexWordText(0xFFFF), "FFFF");
}

} // namespace
