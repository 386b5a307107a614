// Connecting a controller: the greeting on the wire, the registry entries, the packet format
// chosen by the identification and the display partition chosen by the display reply.

#include "driver/core/driver.h"
#include "driver/core/serial_connection.h"
#include "platform/registry/registry.h"
#include "tests/integration/driver/driver_harness.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

namespace kvr::test::driver {
namespace {

using kvr::driver::PacketFormatFromIdentification;

constexpr const char* kProductKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr";
constexpr const char* kPointerPortKey = "HKLM\\HARDWARE\\DEVICEMAP\\PointerPort";

// Target 1 of the default calibration (raw 128, 128) lands on calibrated (124, 128).
constexpr std::int32_t kTarget1PointerX = 1984;   // 65535 * 124 / 4095
constexpr std::int32_t kTarget1PointerY = 2048;   // 65535 * 128 / 4095
constexpr std::int32_t kTarget1InvertedY = 63486; // 65535 * (4095 - 128) / 4095

TEST(DriverConnect, GreetsTheControllerAndWritesItsRegistryEntries) {
    Sim sim("COM3");
    ASSERT_TRUE(sim.ok());
    Daemon daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.process().stderrText();

    // The pointer-port entry is there from the load on.
    std::string data;
    ASSERT_EQ(reg::querySz(kPointerPortKey, "\\Device\\PointerPort0", data), reg::Status::Ok);
    EXPECT_EQ(data, kvr::driver::DriverRegistryPath(kvr::driver::Role::Serial));

    Client client;
    ASSERT_TRUE(client.ok());
    EXPECT_EQ(client.currentComPort(2), 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.connect(2, 3));
    // The request returns once the greeting is over: Z, 50 ms, identification, 200 ms,
    // display query, 200 ms. (Measured here, on the side that makes the waits: the times at
    // which the controller receives the frames carry the line's delays, which a loaded machine
    // stretches, one frame more than another.)
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    EXPECT_EQ(client.currentComPort(2), 3);

    // Z, identification, display query: in this order, nothing before them.
    ASSERT_TRUE(sim.waitFrame("GP9E"));
    const auto texts = sim.frameTexts();
    EXPECT_EQ(texts, (std::vector<std::string>{"Z", "Uu", "GP9E"}));

    std::uint32_t marker = 0;
    EXPECT_EQ(reg::queryDword(kProductKey, "RS232_DEVICE2", marker), reg::Status::Ok);
    EXPECT_EQ(marker, 1U);
    std::uint32_t com = 0;
    EXPECT_EQ(reg::queryDword(std::string(kProductKey) + "\\RS232\\Device2", "COMPORT", com),
              reg::Status::Ok);
    EXPECT_EQ(com, 3U);

    // A second connect request on a running device changes nothing on the wire.
    ASSERT_TRUE(client.connect(2, 3));
    EXPECT_EQ(sim.frameTexts().size(), texts.size());
}

TEST(DriverConnect, MissingPortLeavesTheDeviceUnconnectedButAcknowledged) {
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    EXPECT_TRUE(client.connect(0, 9)); // no COM9 link: acknowledged all the same
    // Not connected: the pass-through write is refused.
    EXPECT_EQ(client.write(0, {0x01, 'Z', 0x0D}), 0xC0000023U);
}

struct IdentificationCase {
    const char* name;
    std::vector<std::uint8_t> reply;
    std::uint8_t current;
    std::uint8_t expected;
};

std::vector<std::uint8_t> bytesOf(const char* text) {
    return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

TEST(DriverConnect, IdentificationReplySelectsThePacketFormat) {
    const IdentificationCase cases[] = {
        {"format 0", bytesOf("Lumarcon00"), 2, 0},
        {"format 1", bytesOf("Lumarcon01"), 2, 1},
        {"format 2", bytesOf("Lumarcon02"), 0, 2},
        {"format 3", bytesOf("Lumarcon03"), 0, 3},
        {"digit 4 keeps", bytesOf("Lumarcon04"), 2, 2},
        {"prefix 1 keeps", bytesOf("Lumarcon12"), 3, 3},
        {"only four tag bytes compared", bytesOf("LXXXrcXn02"), 0, 2},
        {"byte 0 differs", bytesOf("lumarcon02"), 2, 0},
        {"byte 7 differs", bytesOf("LumarcoN02"), 2, 0},
        {"nine bytes", bytesOf("Lumarcon0"), 2, 0},
        {"eleven bytes", bytesOf("Lumarcon02X"), 2, 0},
        {"nothing", {}, 2, 0},
    };
    for (const auto& c : cases) {
        std::uint8_t buf[16] = {};
        std::copy(c.reply.begin(), c.reply.end(), buf);
        EXPECT_EQ(PacketFormatFromIdentification(buf, c.reply.size(), c.current), c.expected)
            << c.name;
    }
}

// Through the daemon: the identification at connect picks the decoder, seen by where (and
// whether) a touch at calibration target 1 arrives, and by the format the daemon logs.
struct FormatCase {
    const char* name;
    std::string profile;
    std::optional<std::string> identification; // replaces the profile's answer
    bool ePackets;                             // the controller sends E packets
    std::uint8_t code11Format;
    std::uint8_t expectedFormat;
    std::int32_t expectedY;
};

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The packet format the daemon logged for `device` at its latest connect, once it has logged
// more than `before` of them; -1 when it does not within the deadline.
int loggedFormat(Daemon& daemon, std::uint8_t device, std::size_t before) {
    const std::string prefix = "device " + std::to_string(device) + ": packet format ";
    if (!waitUntil([&] { return occurrences(daemon.process().stderrText(), prefix) > before; }))
        return -1;
    const std::string text = daemon.process().stderrText();
    const auto at = text.rfind(prefix) + prefix.size();
    return at < text.size() ? text[at] - '0' : -1;
}

// The greetings of `device` the daemon has logged.
std::size_t greetings(Daemon& daemon, std::uint8_t device) {
    return greetingsLogged(daemon.process().stderrText(), device).size();
}

TEST(DriverConnect, IdentificationAtConnectDrivesDecoding) {
    const FormatCase cases[] = {
        {"M, digit 0, code 11 asked for E", "nvlt3000", std::nullopt, false, 2, 0,
         kTarget1PointerY},
        {"E, digit 2", "nvlt3000-e", std::nullopt, true, 0, 2, kTarget1PointerY},
        // The reply is read the same way whatever format code 11 set, E included.
        {"E, digit 2, code 11 asked for E", "nvlt3000-e", std::nullopt, true, 2, 2,
         kTarget1PointerY},
        {"E, prefix 1 keeps format 2 of code 11", "nvlt3000-e", "Lumarcon12", true, 2, 2,
         kTarget1PointerY},
        {"E, unknown digit keeps format 2", "nvlt3000-e", "Lumarcon0x", true, 2, 2,
         kTarget1PointerY},
        {"M, digit 3 inverts Y", "nvlt3000-yinv", std::nullopt, false, 0, 3, kTarget1InvertedY},
        {"M, digit 3 replaces E of code 11", "nvlt3000-yinv", std::nullopt, false, 2, 3,
         kTarget1InvertedY},
        {"prefix 1 keeps format 3 of code 11", "nvlt3000", "Lumarcon12", false, 3, 3,
         kTarget1InvertedY},
        {"unknown digit keeps format 3", "nvlt3000", "Lumarcon0x", false, 3, 3, kTarget1InvertedY},
        {"short reply gives M", "short-id", std::nullopt, false, 2, 0, kTarget1PointerY},
        {"foreign tag gives M", "foreign", std::nullopt, false, 3, 0, kTarget1PointerY},
        {"silent controller gives M", "mute", std::nullopt, false, 2, 0, kTarget1PointerY},
    };
    std::uint8_t device = 0;
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    std::size_t seen = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto profile = Sim::profile(c.profile);
        if (c.identification) profile.identificationOverride = *c.identification;
        const std::string com = "COM" + std::to_string(device + 1);
        Sim sim(com, profile);
        ASSERT_TRUE(sim.ok());
        ASSERT_TRUE(connectUntilGreeted(daemon.process(), client, device, profile, [&] {
            return client.connect(device, device + 1, 9600, c.code11Format);
        }));
        EXPECT_EQ(loggedFormat(daemon, device, greetings(daemon, device) - 1), c.expectedFormat);
        // Target 1 in the packet's own units: 12-bit for E, 14-bit for M.
        const int raw = c.ePackets ? 128 : 512;
        ASSERT_TRUE(sim.play({"tap " + std::to_string(raw) + " " + std::to_string(raw) + " 1"}));
        const auto records = daemon.waitRecords(seen + 2);
        ASSERT_EQ(records.size(), seen + 2);
        EXPECT_EQ(records[seen].x, kTarget1PointerX);
        EXPECT_EQ(records[seen].y, c.expectedY);
        seen = records.size();
        client.disconnect(device);
        ++device;
        if (device == 8) device = 0;
    }
}

// An E controller stays on E packets across a disconnect (code 12) and a reopen (code 21):
// the identification at the reconnect is read while the device is already on format 2.
TEST(DriverConnect, EFormatSurvivesDisconnectAndReopen) {
    const auto profile = Sim::profile("nvlt3000-e");
    Sim sim("COM2", profile);
    ASSERT_TRUE(sim.ok());
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    ASSERT_TRUE(connectUntilGreeted(daemon.process(), client, 1, profile,
                                    [&] { return client.connect(1, 2, 9600, 2); }));
    EXPECT_EQ(loggedFormat(daemon, 1, greetings(daemon, 1) - 1), 2);
    ASSERT_TRUE(sim.play({"tap 128 128 1"}));
    auto records = daemon.waitRecords(2);
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].x, kTarget1PointerX);
    EXPECT_EQ(records[0].y, kTarget1PointerY);

    for (std::size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(client.disconnect(1), 0U);
        ASSERT_TRUE(connectUntilGreeted(daemon.process(), client, 1, profile,
                                        [&] { return client.reopen(1).status == 0; }));
        EXPECT_EQ(loggedFormat(daemon, 1, greetings(daemon, 1) - 1), 2);
        ASSERT_TRUE(sim.play({"tap 128 128 1"}));
        records = daemon.waitRecords(2 + 2 * round);
        ASSERT_EQ(records.size(), 2 + 2 * round);
        EXPECT_EQ(records[2 * round], records[0]);
        EXPECT_EQ(records[2 * round + 1], records[1]);
    }
}

TEST(DriverConnect, DisplayReplyPlacesTheDeviceInItsPartition) {
    // Word 9E high byte 06: arrangement 1 (side by side), display index 2.
    auto profile = Sim::defaultProfile();
    profile.defaults[0x9E] = 0x0600;
    Sim sim("COM1", profile);
    ASSERT_TRUE(sim.ok());
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    ASSERT_TRUE(connectUntilGreeted(daemon.process(), client, 0, profile,
                                    [&] { return client.connect(0, 1); }));
    ASSERT_TRUE(sim.play({"tap 512 512 1"}));
    const auto records = daemon.waitRecords(2);
    ASSERT_EQ(records.size(), 2U);
    // Entry 2: origin (131070, 0), extent (65535, 65535).
    EXPECT_EQ(records[0].x, 131070 + kTarget1PointerX);
    EXPECT_EQ(records[0].y, kTarget1PointerY);
}

TEST(DriverConnect, MalformedDisplayReplyKeepsTheDefaultPartition) {
    auto profile = Sim::defaultProfile();
    profile.defaults[0x9E] = 0x0600;
    Sim sim("COM1", profile);
    ASSERT_TRUE(sim.ok());
    // Every reply loses what follows its fourth byte: the display reply is then malformed.
    ASSERT_TRUE(sim.play({"fault cut 4"}));
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    ASSERT_TRUE(client.connect(0, 1));
    ASSERT_TRUE(sim.play({"fault clear", "tap 512 512 1"}));
    const auto records = daemon.waitRecords(2);
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].x, kTarget1PointerX);
}

} // namespace
} // namespace kvr::test::driver
