#include "platform/display/display.h"
#include "platform/display/wayland.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <stdlib.h>
#include <unistd.h>

namespace kvr::display {
namespace {

struct ParseCase {
    const char* text;
    std::vector<Display> expected;
};

class DisplayListParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(DisplayListParse, GivesTheValidEntriesInOrder) {
    EXPECT_EQ(parseDisplayList(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayListParse,
    ::testing::Values(
        ParseCase{"DISPLAY1:0,0,1280,1024;DISPLAY2:1280,0,2304,768",
                  {{"DISPLAY1", 0, 0, 1280, 1024, true}, {"DISPLAY2", 1280, 0, 2304, 768, false}}},
        // The primary mark goes to the first entry at (0, 0), wherever it stands.
        ParseCase{"LEFT:-800,0,0,600; MAIN : 0,0,1024,768 ;",
                  {{"LEFT", -800, 0, 0, 600, false}, {"MAIN", 0, 0, 1024, 768, true}}},
        ParseCase{"A:10,10,20,20", {{"A", 10, 10, 20, 20, false}}}, ParseCase{"", {}},
        ParseCase{";;", {}},
        // Malformed entries are skipped, the rest kept.
        ParseCase{"BAD;GOOD:0,0,1,1", {{"GOOD", 0, 0, 1, 1, true}}},
        ParseCase{":0,0,1,1", {}},           // no name
        ParseCase{"X:0,0,1", {}},            // three numbers
        ParseCase{"X:0,0,1,1,5", {}},        // five numbers
        ParseCase{"X:0,0,0,1", {}},          // empty width
        ParseCase{"X:0,5,1,4", {}},          // inverted
        ParseCase{"X:0,0,1x,1", {}},         // junk in a number
        ParseCase{"X:0,0,,1", {}},           // missing number
        ParseCase{"X:0,0,2147483648,1", {}}, // beyond 32 bits
        ParseCase{"X:-262144,0,262143,1", {{"X", -262144, 0, 262143, 1, false}}},
        ParseCase{"X:-2147483648,0,2147483647,1", {}}, // beyond what the windows compute with
        ParseCase{"X:0,0,262144,1", {}},
        ParseCase{"X:0,0,99999999999999999999999,1", {}}));

TEST(DisplayEnumerate, OverrideReplacesEnumeration) {
    ::setenv("KVR_DISPLAYS", "DISPLAY1:0,0,1280,1024;DISPLAY2:1280,0,2304,768", 1);
    const DisplayList list = enumerate();
    EXPECT_EQ(list.source, Source::Override);
    ASSERT_EQ(list.displays.size(), 2u);
    EXPECT_EQ(list.displays[1].name, "DISPLAY2");
    EXPECT_EQ(list.displays[1].rightPx, 2304);
}

TEST(DisplayEnumerate, OverrideWithoutValidEntryMeansNoDisplays) {
    for (const char* value : {"garbage", "none", ";"}) {
        ::setenv("KVR_DISPLAYS", value, 1);
        const DisplayList list = enumerate();
        EXPECT_EQ(list.source, Source::Override) << value;
        EXPECT_TRUE(list.displays.empty()) << value;
    }
}

TEST(DisplayEnumerate, AnEmptyOverrideCountsAsUnset) {
    ::setenv("KVR_DISPLAYS", "", 1);
    ::unsetenv("DISPLAY");
    const DisplayList list = enumerate();
    EXPECT_EQ(list.source, Source::Fallback);
    EXPECT_EQ(list.displays.size(), 1u);
}

TEST(DisplayEnumerate, NoXServerGivesTheSingleDisplayFallback) {
    ::unsetenv("KVR_DISPLAYS");
    for (const char* display : {"", ":9999"}) { // unset, and a server that is not there
        ::setenv("DISPLAY", display, 1);
        const DisplayList list = enumerate();
        EXPECT_EQ(list.source, Source::Fallback);
        ASSERT_EQ(list.displays.size(), 1u);
        EXPECT_EQ(list.displays[0],
                  (Display{"DISPLAY", 0, 0, kFallbackWidthPx, kFallbackHeightPx, true}));
    }
}

// A compositor's outputs in its logical coordinates: xdg-output where given, else the
// wl_output position with the mode divided by the scale (turned by odd transforms).
TEST(WaylandOutputs, LogicalRectanglesNamesAndOrder) {
    detail::OutputReport plain, scaled, logical, empty; // empty: no mode yet, left out
    plain.modeWidthPx = 1920, plain.modeHeightPx = 1080, plain.outputName = "DP-1";
    scaled = plain, scaled.x = 1920, scaled.scale = 2, scaled.transform = 1; // turned by 90
    scaled.outputName = "", scaled.xdgName = "HDMI-A-1";
    logical = plain, logical.outputName = "", logical.logicalX = -1280; // fractional scale
    logical.haveLogicalPosition = logical.haveLogicalSize = true;
    logical.logicalWidth = 1280, logical.logicalHeight = 720;
    EXPECT_EQ(detail::displaysFromOutputs({scaled, plain}),
              (std::vector<Display>{{"HDMI-A-1", 1920, 0, 2460, 960, false},
                                    {"DP-1", 0, 0, 1920, 1080, true}}));
    EXPECT_EQ(detail::displaysFromOutputs({logical, empty, plain}),
              (std::vector<Display>{{"OUTPUT1", -1280, 0, 0, 720, false},
                                    {"DP-1", 0, 0, 1920, 1080, true}}));
}

// A real X server: Xvfb with one 800 x 600 screen.
class XvfbServer {
public:
    XvfbServer() {
        const std::filesystem::path xvfb = "/usr/bin/Xvfb";
        if (!std::filesystem::exists(xvfb)) return;
        // Display numbers from a per-process start, skipping any with a lock or a socket.
        for (int n = 100 + ::getpid() % 400, tries = 0; tries < 20; ++n, ++tries) {
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
            if (std::filesystem::exists(lock) || std::filesystem::exists(sock)) continue;
            server_.emplace(xvfb, std::vector<std::string>{":" + std::to_string(n), "-screen", "0",
                                                           "800x600x24", "-nolisten", "tcp"});
            if (kvr::test::waitUntil(
                    [&] { return std::filesystem::exists(sock) || !server_->running(); }) &&
                server_->running()) {
                name_ = ":" + std::to_string(n);
                return;
            }
            server_.reset(); // lost a race for that number: try the next
        }
    }
    bool ok() const { return !name_.empty(); }
    const std::string& name() const { return name_; }

private:
    std::optional<kvr::test::ChildProcess> server_;
    std::string name_;
};

TEST(DisplayEnumerate, RandRMonitorsOfARealXServer) {
    XvfbServer server;
    if (!server.ok()) GTEST_SKIP() << "Xvfb not available";
    ::unsetenv("KVR_DISPLAYS");
    ::setenv("DISPLAY", server.name().c_str(), 1);
    const DisplayList list = enumerate();
    ASSERT_FALSE(list.displays.empty());
    const Display& first = list.displays[0];
    EXPECT_FALSE(first.name.empty());
    EXPECT_TRUE(first.primary);
    EXPECT_EQ(first.leftPx, 0);
    EXPECT_EQ(first.topPx, 0);
    EXPECT_EQ(first.rightPx, 800);
    EXPECT_EQ(first.bottomPx, 600);
    // Either RandR named the monitor, or the server had none and the fall-back took the
    // screen's size: both describe the same single screen.
    if (list.source == Source::Fallback)
        EXPECT_EQ(first.name, "DISPLAY");
    else
        EXPECT_EQ(list.source, Source::RandR);
}

} // namespace
} // namespace kvr::display
