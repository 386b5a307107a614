#include "platform/desktop/spawn.h"
#include "tests/support/test_env.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <signal.h>
#include <sstream>
#include <unistd.h>

namespace kvr::desktop {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> readReport(const fs::path& p) {
    std::map<std::string, std::string> out;
    std::ifstream in(p);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

TEST(Spawn, ResolvesExeNamesInTheProgramsOwnFolder) {
    const fs::path probe = KVR_SPAWN_PROBE;
    for (const char* name : {"spawnprobe", "spawnprobe.exe", "SpawnProbe.EXE", "SPAWNPROBE"})
        EXPECT_EQ(resolveProgram(name), probe) << name;
    EXPECT_EQ(resolveProgram(probe.string() + ".exe"), probe); // a path with ".exe" dropped
    EXPECT_EQ(resolveProgram(probe.string()), probe);
    for (const char* name : {"", "nosuchprogram.exe", "/nonexistent/x.exe", "spawn"})
        EXPECT_FALSE(resolveProgram(name)) << name;
    // A file that is not executable does not count.
    const auto dir = kvr::test::makeTempDir("noexec");
    std::ofstream(dir / "data.exe") << "x";
    EXPECT_FALSE(resolveProgram((dir / "data.exe").string()));
}

TEST(Spawn, StartsDetachedInANewSessionWithQuietStdio) {
    const auto report = kvr::test::makeTempDir("spawn") / "report";
    // A descriptor the caller leaves inheritable must still not reach the child.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    const auto pid = startDetached("SpawnProbe.exe", {report.string(), "two words", ""});
    ::close(leaked);
    ASSERT_TRUE(pid);
    ASSERT_TRUE(kvr::test::waitUntil([&] { return fs::exists(report); }));
    auto r = readReport(report);
    EXPECT_EQ(r["pid"], std::to_string(*pid));
    EXPECT_EQ(r["sid"], std::to_string(*pid)); // leader of its own session
    EXPECT_EQ(r["fd0"], "/dev/null");
    EXPECT_EQ(r["fd1"], "/dev/null");
    EXPECT_EQ(r["fd2"], "/dev/null");
    EXPECT_EQ(r["others"], "0");
    EXPECT_EQ(r["args"], "two words||");
    // Never waited for, yet reaped: no zombie stays behind.
    EXPECT_TRUE(kvr::test::waitUntil([&] {
        reapDetachedChildren();
        return !fs::exists("/proc/" + std::to_string(*pid));
    }));
}

TEST(Spawn, CommandLinesSplitAsOnWindows) {
    struct Case {
        const char* line;
        std::vector<std::string> words;
    } cases[] = {
        {"cal3pt.exe RS232_DEVICE0", {"cal3pt.exe", "RS232_DEVICE0"}},
        {"  Linear.exe   USB_DEVICE1  -9 ", {"Linear.exe", "USB_DEVICE1", "-9"}},
        {"\"my prog\" \"a b\"c \"\"", {"my prog", "a bc", ""}},
        {"say \\\"hi\\\"", {"say", "\"hi\""}},
        {"", {}},
        {"   ", {}},
        {"\"unterminated arg", {"unterminated arg"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitCommandLine(c.line), c.words) << c.line;
}

TEST(Spawn, StartsACommandLine) {
    const auto report = kvr::test::makeTempDir("spawn") / "report";
    const auto pid = startCommandLine("spawnprobe.exe \"" + report.string() + "\" RS232_DEVICE0");
    ASSERT_TRUE(pid);
    ASSERT_TRUE(kvr::test::waitUntil([&] { return fs::exists(report); }));
    EXPECT_EQ(readReport(report)["args"], "RS232_DEVICE0|");
}

TEST(Spawn, AMissingProgramIsAFailure) {
    EXPECT_FALSE(startDetached("nosuchprogram.exe"));
    EXPECT_FALSE(startCommandLine(""));
    EXPECT_FALSE(startCommandLine("/nonexistent/RClick.exe"));
}

} // namespace
} // namespace kvr::desktop
