// The suite in a desktop session with two monitors (weston, two outputs, XWayland), read back
// as pixels: the display table as native Wayland and as X clients see it, the full-screen
// programs on output 2 as either kind of client, one touch through the driver's XTest sink
// into cal3pt on output 2, and monmatch binding two controllers before cal3pt calibrates the
// second one on its own output.

#include "driver/control/control_codes.h"
#include "engine/calibration.h"
#include "engine/device.h"
#include "engine/pipeline.h"
#include "platform/display/display.h"
#include "platform/pointer/pointer.h"
#include "platform/registry/registry.h"
#include "platform/sound/sound.h"
#include "tests/e2e/sessions/weston_session.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"

// clang-format off
// gtest before Xlib: Xlib defines macros (None, Bool) that clash with gtest's names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
// clang-format on

#include <array>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

using kvr::test::ChildProcess;
using kvr::test::program;
using kvr::test::waitUntil;
using kvr::test::WestonSession;
using kvr::test::tsapi::Bench;
using kvr::test::tsapi::Sim;

constexpr int W = WestonSession::kOutputWidthPx, H = WestonSession::kOutputHeightPx;
constexpr std::uint32_t kWhite = 0xFFFFFF, kGray = 0x808080, kYellow = 0xFFFF00;

enum class Client { Wayland, XWayland };
const char* nameOf(Client c) {
    return c == Client::Wayland ? "native Wayland" : "XWayland";
}

#define REQUIRE_SESSION(session)                                                                   \
    if (!WestonSession::installed()) GTEST_SKIP() << "weston, Xwayland or Xvfb is not installed"; \
    ASSERT_TRUE((session).ok()) << (session).diagnostics()

// A pixel of the nested screen that must have (or must not have) a colour.
struct Probe {
    int x, y;
    std::uint32_t rgb;
    bool equal = true;
};
::testing::AssertionResult shows(const WestonSession& s, const std::vector<Probe>& probes) {
    const Probe* failed = nullptr;
    std::uint32_t got = 0;
    const bool all = waitUntil([&] {
        for (const Probe& p : probes) {
            got = s.pixel(p.x, p.y);
            failed = &p;
            if ((got == p.rgb) != p.equal) return false;
        }
        return true;
    });
    if (all) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << failed->x << "," << failed->y << " is "
                                         << std::hex << got << (failed->equal ? ", not " : ", ")
                                         << failed->rgb;
}

// A controller on COM`com` bound to display `display` (1-based) in its word 9E.
kvr::emu::ControllerProfile boundTo(int display) {
    auto profile = Sim::profile("nvlt3000-e");
    profile.defaults[0x9E] = static_cast<std::uint16_t>((display - 1) << 8);
    return profile;
}

// cal3pt's first target on output `output` (default base offsets: (1024 * 128) >> 12,
// (768 * 128) >> 12), its white disc, and the window's gray over the corners of the output.
std::vector<Probe> cal3ptOn(int output) {
    const int left = (output - 1) * W, other = (2 - output) * W;
    return {{left + 32, 24, kWhite},
            {left + 1, 1, kGray},
            {left + W - 2, H - 2, kGray},
            {other + W / 2, 10, kGray, false}, // the other output's panel
            {other + 32, 24, kWhite, false}};
}

TEST(Sessions, DisplayTableIsTheSameForWaylandAndXWaylandClients) {
    WestonSession session;
    REQUIRE_SESSION(session);
    ::unsetenv("KVR_DISPLAYS");
    const std::vector<std::array<int, 4>> outputs = {{0, 0, W, H}, {W, 0, 2 * W, H}};
    for (Client c : {Client::Wayland, Client::XWayland}) {
        SCOPED_TRACE(nameOf(c));
        c == Client::Wayland ? session.becomeWaylandClient() : session.becomeXWaylandClient();
        const auto list = kvr::display::enumerate();
        EXPECT_EQ(list.source, c == Client::Wayland ? kvr::display::Source::Wayland
                                                    : kvr::display::Source::RandR);
        ASSERT_EQ(list.displays.size(), outputs.size());
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const auto& d = list.displays[i];
            EXPECT_EQ((std::array<int, 4>{d.leftPx, d.topPx, d.rightPx, d.bottomPx}), outputs[i])
                << d.name;
            EXPECT_EQ(d.primary, i == 0) << d.name;
        }
    }
}

// sketch -2 and cal3pt of a controller bound to display 2 cover exactly output 2, as either
// kind of client: their content where the output is, the panel's place too, output 1 as it was.
TEST(Sessions, FullScreenProgramsCoverOutput2) {
    WestonSession session;
    REQUIRE_SESSION(session);
    ::unsetenv("KVR_DISPLAYS");
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_NE(bench.addSerial(0, 1, boundTo(2)), nullptr);
    const std::vector<Probe> sketchGrid = {{W + 32, 100, kWhite},  // first vertical white line
                                           {W + 42, 100, kYellow}, // its band, 1 % to the right
                                           {W + 100, 24, kWhite},  // first horizontal line
                                           {32, 100, kWhite, false}};
    struct Case {
        const char* program;
        std::vector<std::string> args;
        std::vector<Probe> probes;
    } cases[] = {{"sketch", {"-2"}, sketchGrid}, {"cal3pt", {"RS232_DEVICE0"}, cal3ptOn(2)}};
    for (Client c : {Client::Wayland, Client::XWayland}) {
        c == Client::Wayland ? session.becomeWaylandClient() : session.becomeXWaylandClient();
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(k.program) + " as " + nameOf(c));
            ChildProcess p(program(k.program), k.args);
            EXPECT_TRUE(shows(session, k.probes)) << p.stderrText();
            p.stop(); // SIGTERM closes the window as a destroy would
        }
    }
}

// The screen pixel where the XTest sink puts a raw E touch of a controller reporting into
// display 2 (the entry the library sends for output 2), with the driver's default calibration.
std::pair<int, int> pixelOnOutput2(int rawX, int rawY) {
    const kvr::engine::CalibrationSet defaults;
    const kvr::engine::Rs232Device device{};
    const auto calibrated = kvr::engine::Do3PCalibration(defaults, rawX, rawY);
    const auto c = kvr::engine::ExpandEdges(device, {calibrated.x, calibrated.y});
    const kvr::engine::DisplayPartitionEntry output2{65535, 0, (W - 1) * 65535 / W,
                                                     (H - 1) * 65535 / H};
    const auto p = kvr::engine::MapToPartition(output2, c);
    return {kvr::pointer::pointerToPixel(p.x, 0, W), kvr::pointer::pointerToPixel(p.y, 0, H)};
}

// Where the X server's pointer is, on its root window.
std::pair<int, int> xPointer(const std::string& display) {
    ::Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) return {-1, -1};
    Window root = 0, child = 0;
    int x = -1, y = -1, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask);
    XCloseDisplay(d);
    return {x, y};
}

// kvrsim -> KvrRs232 (XTest on XWayland) -> cal3pt on output 2: the three targets are taken,
// and the save touch, at the first target's pixel, arrives in the window there and stores.
TEST(Sessions, TouchThroughXTestReachesCal3ptOnOutput2) {
    WestonSession session;
    REQUIRE_SESSION(session);
    ::unsetenv("KVR_DISPLAYS");
    session.becomeXWaylandClient();
    ::setenv("KVR_CONFIG_DIR", kvr::test::makeTempDir("config").c_str(), 1);
    ChildProcess daemon(program("KvrRs232"),
                        {"--foreground", "--pointer=xtest", "--log-level=debug"});
    ASSERT_TRUE(waitUntil(
        [] { return std::filesystem::exists(kvr::test::runtimeDir() / "dev" / "KvrRs232D"); }));
    const auto profile = boundTo(2);
    Sim sim("COM1", profile);
    ASSERT_TRUE(sim.ok());
    kvr::test::tsapi::Client client;
    ASSERT_TRUE(kvr::test::driver::connectUntilGreeted(daemon, client, 0, profile,
                                                       [&] { return client.connect(0, 1); }));

    // The program sounds the asterisk at each lift it takes a point on.
    const auto sounds = kvr::test::makeTempDir("sounds");
    ::setenv("KVR_SOUND_SINK", sounds.c_str(), 1);
    const std::string asterisk =
        "-message-" +
        std::to_string(kvr::sound::messageTone(kvr::sound::kMessageBeepAsterisk).freqHz) + "Hz-";
    const auto pointsTaken = [&] {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(sounds))
            n += entry.path().filename().string().find(asterisk) != std::string::npos ? 1 : 0;
        return n;
    };

    ChildProcess cal3pt(program("cal3pt"), {"RS232_DEVICE0"});
    ASSERT_TRUE(shows(session, cal3ptOn(2))) << cal3pt.stderrText();
    // Drawing mode is set last at start-up: touches wait for it ("PL" stores it).
    ASSERT_TRUE(waitUntil([&] {
        return kvr::test::tsapi::countFrames(sim, "PL") > 0 ||
               kvr::test::tsapi::countFrames(sim, "MS") >= 4;
    }));
    const auto pointHeld = [&] {
        return client.ioctl(kvr::driver::IOCTL_RS232_GET_3P_CAL_DATA, {0}, 8).reply.size() == 8;
    };
    const std::vector<std::pair<int, int>> raw = {{130, 120}, {3950, 3900}, {3940, 140}};
    for (std::size_t k = 0; k < raw.size(); ++k) {
        ASSERT_TRUE(sim.play({"tap " + std::to_string(raw[k].first) + " " +
                              std::to_string(raw[k].second) + " 40"}));
        ASSERT_TRUE(waitUntil([&] { return pointsTaken() > k && !pointHeld(); }))
            << cal3pt.stderrText();
    }
    ASSERT_TRUE(shows(session, {{32, 24, kWhite, false}, {W + 32, 24, kWhite, false}}))
        << "the save prompt replaces the targets";

    // The raw touch that lands on the first target's pixel of output 2.
    std::pair<int, int> best{0, 0};
    int bestDistance = 1 << 30;
    for (int x = 0; x < 4096; x += 4)
        for (int y = 0; y < 4096; y += 4) {
            const auto [px, py] = pixelOnOutput2(x, y);
            const int d = std::abs(px - (W + 32)) + std::abs(py - 24);
            if (d < bestDistance) bestDistance = d, best = {x, y};
        }
    ASSERT_LE(bestDistance, 1);
    ASSERT_TRUE(sim.play(
        {"tap " + std::to_string(best.first) + " " + std::to_string(best.second) + " 20"}));
    const auto status = cal3pt.wait();
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << cal3pt.stderrText();
    EXPECT_EQ(xPointer(session.xwaylandDisplay()), pixelOnOutput2(best.first, best.second));
    const char* names[] = {"CP1X", "CP1Y", "CP2X", "CP2Y", "CP3X", "CP3Y"};
    for (int i = 0; i < 6; ++i) {
        std::uint32_t v = 0;
        kvr::reg::queryDword(R"(HKLM\SYSTEM\CurrentControlSet\Control\Kvr\RS232\Device0)",
                             names[i], v);
        EXPECT_EQ(int(v), i % 2 ? raw[i / 2].second : raw[i / 2].first) << names[i];
    }
}

// monmatch (native Wayland) offers output 1, then output 2; the controller touched on each is
// bound to it. cal3pt then calibrates controller 2 on output 2 and leaves output 1 alone.
TEST(Sessions, MonmatchBindsTwoControllersThenCal3ptUsesOutput2Only) {
    WestonSession session;
    REQUIRE_SESSION(session);
    ::unsetenv("KVR_DISPLAYS");
    session.becomeWaylandClient();
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* first = bench.addSerial(0, 1, Sim::profile("nvlt3000-e"));
    Sim* second = bench.addSerial(1, 2, Sim::profile("nvlt3000-e"));
    ASSERT_TRUE(first != nullptr && second != nullptr);

    ChildProcess monmatch(program("monmatch"), {});
    const auto offers = [&](int output) {
        const int left = (output - 1) * W, other = (2 - output) * W;
        return shows(session, {{left + 1, 1, kGray},
                               {left + W - 2, H - 2, kGray},
                               {other + W / 2, 10, kGray, false}});
    };
    ASSERT_TRUE(offers(1)) << monmatch.stderrText();
    ASSERT_TRUE(first->play({"tap 50% 50% 10"}));
    ASSERT_TRUE(offers(2)) << monmatch.stderrText();
    ASSERT_TRUE(second->play({"tap 50% 50% 10"}));
    const auto status = monmatch.wait();
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << monmatch.stderrText();
    // Each controller was told its display in word 9E: index 0, and index 1.
    EXPECT_EQ(kvr::test::tsapi::countFrames(*first, "SP9E0000"), 1u);
    EXPECT_EQ(kvr::test::tsapi::countFrames(*second, "SP9E0100"), 1u);

    ChildProcess cal3pt(program("cal3pt"), {"RS232_DEVICE1"});
    EXPECT_TRUE(shows(session, cal3ptOn(2))) << cal3pt.stderrText();
    cal3pt.stop();
}

} // namespace
