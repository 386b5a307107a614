// Recorded controller byte streams replayed through the daemon, compared with the pointer
// records they must give (tests/data/driver: <name>.hex and <name>.trace).

#include "platform/ipc/control_codes.h"
#include "tests/integration/driver/driver_harness.h"
#include "tests/support/test_env.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace kvr::test::driver {
namespace {

// Lines of a data file without comments and blank lines.
std::vector<std::string> dataLines(const std::string& file) {
    std::ifstream in(sourceDir() / "tests" / "data" / "driver" / file);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r") != std::string::npos) out.push_back(line);
    }
    return out;
}

struct Replay {
    const char* name;
    const char* profile;
};

class DriverReplay : public ::testing::TestWithParam<Replay> {};

TEST_P(DriverReplay, StreamGivesTheRecordedPointerTrace) {
    const Replay replay = GetParam();
    const auto stream = dataLines(std::string(replay.name) + ".hex");
    const auto expectedLines = dataLines(std::string(replay.name) + ".trace");
    ASSERT_FALSE(stream.empty());
    ASSERT_FALSE(expectedLines.empty());
    std::vector<TraceRecord> expected;
    for (const auto& l : expectedLines) {
        std::istringstream ls(l);
        TraceRecord r;
        unsigned flags = 0;
        ASSERT_TRUE(ls >> r.x >> r.y >> flags) << l;
        r.flags = static_cast<std::uint16_t>(flags);
        expected.push_back(r);
    }

    const auto profile = Sim::profile(replay.profile);
    Sim sim("COM1", profile);
    ASSERT_TRUE(sim.ok());
    Daemon daemon;
    ASSERT_TRUE(daemon.ready());
    Client client;
    // The stream starts once the driver has identified the controller (which picks the
    // packet format) and asked for its display setting, the last step of its greeting.
    ASSERT_TRUE(connectUntilGreeted(daemon.process(), client, 0, profile,
                                    [&] { return client.connect(0, 1); }));
    client.ioctl(kvr::control::IOCTL_RS232_FLUSH_READ_BUFFER, {0}, 0); // the greeting's replies
    std::vector<std::string> lines;
    for (const auto& group : stream)
        lines.push_back("raw " + group);
    ASSERT_TRUE(sim.play(lines));

    const auto records = daemon.waitRecords(expected.size());
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(records[i].x, expected[i].x) << "record " << i;
        EXPECT_EQ(records[i].y, expected[i].y) << "record " << i;
        EXPECT_EQ(records[i].flags, expected[i].flags) << "record " << i;
    }
    // Nothing more comes.
    ASSERT_TRUE(sim.play({"wait 100"}));
    EXPECT_EQ(daemon.records().size(), expected.size());
}

INSTANTIATE_TEST_SUITE_P(Streams, DriverReplay,
                         ::testing::Values(Replay{"replay_m", "nvlt3000"},
                                           Replay{"replay_e", "nvlt3000-e"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kvr::test::driver
