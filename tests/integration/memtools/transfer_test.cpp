// The settings image and record moved through the touch library, against the driver daemon
// and an emulated controller: the frames on the line, the words read and written, retries of
// a lost reply, and a controller that stops answering.

#include "memtools/image_transfer.h"
#include "memtools/settings_transfer.h"
#include "protocol/frame.h"
#include "protocol/session.h"
#include "tests/integration/memtools/memtools_bench.h"
#include "tsapi/tsapi.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace kvr::test::tsapi {
namespace {

using memtools::ImageWord;
using memtools::kImageWords;
using memtools::SettingsImage;

// The bench with the controller opened through the library.
class TransferBench : public MemtoolsBench {
public:
    TransferBench() {
        if (!MemtoolsBench::ok()) return;
        GetExistControllers();
        controller_ = protocol::ControllerSession("RS232_DEVICE0");
    }
    [[nodiscard]] bool ok() const { return controller_.isOpen(); }
    protocol::ControllerSession& h() { return controller_; }

private:
    protocol::ControllerSession controller_;
};

#define START_BENCH(b)                                                                             \
    TransferBench b;                                                                               \
    ASSERT_TRUE(b.ok()) << b.why()

std::vector<std::string> expectedReads() {
    std::vector<std::string> frames{"UT"};
    for (int n = 1; n <= kImageWords; ++n)
        frames.push_back("GP" + protocol::hexText(memtools::imageAddress(n)));
    return frames;
}

TEST(ImageTransfer, ReadGivesTheControllerMemoryWithProgressPerWord) {
    START_BENCH(b);
    const std::size_t mark = b.sim().frameTexts().size();
    std::vector<int> progress;
    const auto r = memtools::readImage(b.h(), [&](int done) { progress.push_back(done); });
    ASSERT_TRUE(r.complete) << r.reason;
    for (int n = 1; n <= kImageWords; ++n) {
        const ImageWord& w = r.image[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ((w.byte1 << 8) | w.byte2, imageWordValue(n)) << "word " << n;
    }
    EXPECT_TRUE(sameExchanges(framesSince(b.sim(), mark), expectedReads(), memtools::kWordTries));
    ASSERT_EQ(progress.size(), static_cast<std::size_t>(kImageWords));
    EXPECT_EQ(progress.front(), 1);
    EXPECT_EQ(progress.back(), kImageWords);
}

TEST(ImageTransfer, LostRepliesAreReadAgainAndAThirdLossAbandons) {
    START_BENCH(b);
    // The "UT" reply and two replies to "GP81" cut short: word 1 is read three times and the
    // image is still whole.
    ASSERT_TRUE(b.sim().play({"fault cut 4 3"}));
    auto r = memtools::readImage(b.h());
    ASSERT_TRUE(r.complete) << r.reason;
    EXPECT_EQ((r.image[0].byte1 << 8) | r.image[0].byte2, imageWordValue(1));
    EXPECT_EQ(countFrames(b.sim(), "GP81"), 3u);

    // Silence: three tries of the first word, then nothing more is asked.
    ASSERT_TRUE(b.sim().play({"fault silence"}));
    const std::size_t mark = b.sim().frameTexts().size();
    r = memtools::readImage(b.h());
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.wordsRead, 0);
    EXPECT_EQ(framesSince(b.sim(), mark), (std::vector<std::string>{"UT", "GP81", "GP81", "GP81"}));
}

TEST(ImageTransfer, ALateReplyIsNeverTakenForTheNextWord) {
    START_BENCH(b);
    // From the first "GP" on, three replies come 300 ms late, after the 200 ms a try waits:
    // the second try of a word gets the first try's reply, and the second try's reply comes
    // while the next word is asked for. Every word still holds its own value.
    const std::size_t unitQueries = countFrames(b.sim(), "UT") + 1;
    std::thread late([&] {
        if (b.sim().waitFrame("UT", unitQueries, std::chrono::seconds(60)))
            b.sim().play({"fault late 300 3"});
    });
    const auto r = memtools::readImage(b.h());
    late.join();
    ASSERT_TRUE(r.complete) << r.reason;
    for (int n = 1; n <= kImageWords; ++n) {
        const ImageWord& w = r.image[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ((w.byte1 << 8) | w.byte2, imageWordValue(n)) << "word " << n;
    }
}

TEST(ImageTransfer, WriteSendsTheThirtyFiveWordsAndStopsWhenTheControllerFallsSilent) {
    START_BENCH(b);
    SettingsImage image{};
    for (int n = 1; n <= kImageWords; ++n)
        image[static_cast<std::size_t>(n - 1)] = {static_cast<std::uint8_t>(n),
                                                  static_cast<std::uint8_t>(0xF0 + n % 16)};
    const std::size_t mark = b.sim().frameTexts().size();
    int last = 0;
    const auto w = memtools::writeImage(b.h(), image, [&](int done) { last = done; });
    ASSERT_TRUE(w.complete) << w.reason;
    EXPECT_EQ(last, kImageWords);
    std::vector<std::string> expected{"UT"};
    for (int n = 1; n <= kImageWords; ++n)
        expected.push_back("SP" + protocol::hexText(memtools::imageAddress(n)) +
                           protocol::hexText(static_cast<std::uint32_t>(n)) +
                           protocol::hexText(static_cast<std::uint32_t>(0xF0 + n % 16)));
    EXPECT_EQ(expected[15], "SP8F0FFF");
    EXPECT_TRUE(sameExchanges(framesSince(b.sim(), mark), expected, memtools::kWordTries));
    for (int n = 1; n <= kImageWords; ++n)
        EXPECT_EQ(b.word(memtools::imageAddress(n)), (n << 8) | (0xF0 + n % 16)) << n;

    ASSERT_TRUE(b.sim().play({"fault silence"}));
    const std::size_t silentFrom = b.sim().frameTexts().size();
    const auto silent = memtools::writeImage(b.h(), image);
    EXPECT_FALSE(silent.complete);
    EXPECT_EQ(silent.wordsWritten, 0);
    // Sent once; a word that got no acknowledgement is read back, not sent blindly again.
    EXPECT_EQ(framesSince(b.sim(), silentFrom),
              (std::vector<std::string>{"UT", "SP8101F1", "GP81", "GP81"}));
}

TEST(SettingsTransfer, AppliedRecordIsFetchedBack) {
    START_BENCH(b);
    memtools::SettingsRecord record;
    using memtools::Setting;
    const std::pair<Setting, std::int32_t> values[] = {
        {Setting::ReportMode, 3},        {Setting::RightClickTime, 800},
        {Setting::RightClickEnabled, 1}, {Setting::DoubleClickSpeed, 4},
        {Setting::DoubleClickArea, 2},   {Setting::ReportStatus, 1},
        {Setting::UpSound, 1},           {Setting::DownSound, 0},
        {Setting::Rotation, 2},          {Setting::BuzzerFreq, 1500},
        {Setting::BuzzerDuration, 40},
    };
    for (const auto& [s, v] : values)
        ASSERT_TRUE(record.set(s, v));
    memtools::applySettings(b.h().handle(), record);
    const memtools::SettingsRecord back = memtools::fetchSettings(b.h().handle());
    for (const auto& [s, v] : values) {
        // Reports are always switched on by a restore.
        const std::int32_t expected = s == Setting::ReportStatus ? 0 : v;
        EXPECT_EQ(back.get(s), expected) << memtools::settingName(s);
    }
}

} // namespace
} // namespace kvr::test::tsapi
