// Every console program and script, run as a person runs them with ordinary mistakes: the
// exit status, the one message line (starting with the program's name), and the state folder
// left exactly as it was.

#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <vector>

namespace kvr::test {
namespace {

namespace fs = std::filesystem;

// Every entry below `dir`: its kind, link target, or the size and a hash of its bytes.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec))) return out;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const auto& p = it->path();
        std::string what;
        if (fs::is_symlink(fs::symlink_status(p)))
            what = "-> " + fs::read_symlink(p).string();
        else if (fs::is_regular_file(p)) {
            const std::string bytes =
                (std::ostringstream() << std::ifstream(p, std::ios::binary).rdbuf()).str();
            what = std::to_string(bytes.size()) + " bytes, hash " +
                   std::to_string(std::hash<std::string>()(bytes));
        } else
            what = "folder";
        out[fs::relative(p, dir).string()] = what;
    }
    return out;
}

// Makes a SQLite file from `sql` (a file the store must refuse and leave alone).
fs::path sqliteFile(const fs::path& dir, const char* sql) {
    fs::create_directories(dir);
    sqlite3* db = nullptr;
    sqlite3_open((dir / "registry.db").c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return dir;
}

struct Case {
    std::string program; // a program in bin/, or "scripts/NAME"
    std::vector<std::string> args;
    int exitCode = 0;
    std::string message;               // the first stderr line starts with "<name>: " and has this
    std::vector<std::string> env = {}; // NAME=value set for the run
};

RunResult run(const Case& c) {
    const bool script = c.program.starts_with("scripts/");
    std::vector<std::string> args = {"-u", "KVR_TRACE"};
    args.insert(args.end(), c.env.begin(), c.env.end());
    args.push_back((script ? sourceDir() / c.program : program(c.program)).string());
    args.insert(args.end(), c.args.begin(), c.args.end());
    return runProgram("/usr/bin/env", args);
}

std::string nameOf(const std::string& program) {
    return fs::path(program).filename().string();
}

TEST(CommandLines, MistakesAreUsageErrorsOrFailuresAndChangeNothing) {
    const fs::path state = stateDir();
    fs::create_directories(state / "dosdevices");
    fs::create_symlink("/dev/ttyUSB9", state / "dosdevices" / "com1");
    ASSERT_EQ(runProgram(program("kvrreg"), {"set", "HKLM\\Soft\\App", "v", "dword", "7"}).exitCode,
              0);
    const fs::path scratch = makeTempDir("cli");
    const fs::path typo = scratch / "no-such-state";
    const fs::path foreign = sqliteFile(scratch / "foreign", "CREATE TABLE t(x)");
    const fs::path newer =
        sqliteFile(scratch / "newer", "PRAGMA application_id = 1263948370; PRAGMA user_version = 9;"
                                      "CREATE TABLE keys(x); CREATE TABLE vals(x)");
    const std::string deep = "KVR_RUNTIME_DIR=" + (scratch / std::string(120, 'd')).string();
    const auto watched = {state, foreign, newer};

    const std::vector<Case> cases = {
        {"KvrRs232", {"--bogus"}, 2, "not expected: --bogus"},
        {"KvrRs232", {"--pointer"}, 2, "--pointer"},
        {"KvrRs232", {"--pointer=none", "--trace=x"}, 2, "--trace goes with --pointer=trace"},
        {"KvrRs232", {"--pointer=none"}, 1, "is not a folder", {"KVR_STATE_DIR=/dev/null"}},
        {"KvrRs232",
         {"--pointer=none"},
         1,
         "not a settings store",
         {"KVR_STATE_DIR=" + foreign.string()}},
        {"KvrRs232", {"--pointer=none"}, 1, "newer version", {"KVR_STATE_DIR=" + newer.string()}},
        {"KvrRs232", {"--pointer=none"}, 1, "is too deep", {deep}},
        {"kvrctl", {"frob"}, 2, "unknown command 'frob'"},
        {"kvrctl", {"raw", "11", "--out", "4000000000"}, 2, "--out"},
        {"kvrctl", {"connect", "0", "1", "--format", "9"}, 2, "--format"},
        {"kvrctl", {"connect", "0", "1", "--baud", "12345"}, 2, "--baud 12345"},
        {"kvrctl", {"connect", "0", "17"}, 2, "COM"},
        {"kvrctl", {"read", "0", "513"}, 2, "MAX"},
        {"kvrctl", {"disconnect", "0"}, 1, "is the driver running?"},
        {"kvrsim", {"--link", "LPT1"}, 2, "bad link name 'LPT1'"},
        {"kvrsim", {"--link", "COM1"}, 2, "COM1 is taken: "},
        {"kvrsim", {"--link"}, 2, "--link"},
        {"kvrsim", {"--scenario", state.string()}, 2, "it is a folder"},
        {"kvrreg",
         {"query", "HKLM"},
         3,
         "no settings store at",
         {"KVR_STATE_DIR=" + typo.string()}},
        {"kvrreg", {"export"}, 3, "no settings store at", {"KVR_STATE_DIR=" + typo.string()}},
        {"kvrreg",
         {"query", "HKLM"},
         3,
         "not a settings store",
         {"KVR_STATE_DIR=" + foreign.string()}},
        {"kvrreg",
         {"set", "HKLM\\A", "v", "sz", "x"},
         3,
         "newer version",
         {"KVR_STATE_DIR=" + newer.string()}},
        {"kvrreg",
         {"set", "HKLM\\A", std::string(20000, 'n'), "sz", "x"},
         2,
         "value name too long"},
        {"kvrreg", {"set", "HKLM\\A", "v", "qword", "1"}, 2, "unknown value type 'qword'"},
        {"touchsvc", {"--bogus"}, 2, "unknown option '--bogus'"},
        {"touchsvc", {"-v", "extra"}, 2, "one option at a time"},
        {"kvrautostart", {"--bogus"}, 2, "unexpected argument '--bogus'"},
        {"scripts/demo", {"--port"}, 2, "--port needs a value"},
        {"scripts/demo", {"--port", "/dev/null"}, 2, "is not a terminal"},
        {"scripts/demo", {"--seconds", "soon"}, 2, "--seconds takes a whole number"},
        {"scripts/demo", {"--window"}, 2, "unknown option '--window'"},
        {"scripts/screenshots", {"--out"}, 2, "--out needs a value"},
        {"kvrshot", {"shot", "soon", "x.png"}, 2, "not a process id: 'soon'"},
        {"kvrshot", {"--still", "-1", "shot", "1", "x.png"}, 2, "--still takes a number"},
        {"scripts/setup-deps", {"--bogus"}, 2, "unexpected argument '--bogus'"},
        {"scripts/test", {"--bogus"}, 2, "unexpected argument '--bogus'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program + " " + (c.args.empty() ? "" : c.args[0]));
        std::vector<std::map<std::string, std::string>> before;
        for (const auto& dir : watched)
            before.push_back(snapshot(dir));
        const RunResult r = run(c);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        const std::string first = r.err.substr(0, r.err.find('\n'));
        EXPECT_TRUE(first.starts_with(nameOf(c.program) + ": ")) << r.err;
        EXPECT_NE(first.find(c.message), std::string::npos) << r.err;
        // A usage error adds the hint line; a failure says it in one line.
        const auto lines = std::count(r.err.begin(), r.err.end(), '\n');
        EXPECT_EQ(lines, c.exitCode == 2 && c.message.find("is taken") == std::string::npos ? 2 : 1)
            << r.err;
        std::size_t i = 0;
        for (const auto& dir : watched)
            EXPECT_EQ(snapshot(dir), before[i++]) << dir;
        EXPECT_FALSE(fs::exists(typo));
    }
}

TEST(CommandLines, HelpAndVersionEverywhere) {
    const std::vector<std::string> programs = {"KvrRs232",     "kvrctl",
                                               "kvrsim",       "kvrreg",
                                               "touchsvc",     "kvrautostart",
                                               "scripts/demo", "scripts/setup-deps",
                                               "scripts/test", "scripts/screenshots",
                                               "kvrshot"};
    const auto state = snapshot(stateDir());
    for (const auto& p : programs) {
        SCOPED_TRACE(p);
        const RunResult help = run({p, {"--help"}, 0, ""});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.err, "");
        EXPECT_NE(help.out.find("Usage: "), std::string::npos) << help.out;
        EXPECT_EQ(help.out.find(program("KvrRs232").parent_path().string()), std::string::npos)
            << help.out;
        EXPECT_NE(help.out.find("Exit status:"), std::string::npos) << help.out;
        const RunResult version = run({p, {"--version"}, 0, ""});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_TRUE(std::regex_match(
            version.out, std::regex(nameOf(p) + " [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n")))
            << version.out;
    }
    // Trace lines are for the debug log: a plain query prints its answer and nothing else.
    const RunResult v = run({"touchsvc", {"-v"}, 0, ""});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.err, "touchsvc: Query Version: LumarconTouch Service Version 1.0\n"
                     "The service is not installed\n");
    EXPECT_EQ(snapshot(stateDir()), state);
}

} // namespace
} // namespace kvr::test
