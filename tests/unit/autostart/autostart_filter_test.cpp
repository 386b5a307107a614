// The start-up entries kvrautostart takes from the group-writable store: only the suite's
// desktop programs installed beside it, by name or by their path, without arguments.

#include "tests/support/test_env.h"
#include "utilities/autostart/autostart_filter.h"

#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kvr::autostart::judgeEntry;

namespace {

fs::path makeProgram(const fs::path& folder, const std::string& name, fs::perms mode) {
    const fs::path file = folder / name;
    std::ofstream(file) << "#!/bin/sh\n";
    fs::permissions(file, mode);
    return file;
}

} // namespace

TEST(AutostartFilter, StartsOnlyTheSuitesInstalledDesktopProgramsWithoutArguments) {
    const fs::path bin = kvr::test::makeTempDir("bin");
    const fs::path elsewhere = kvr::test::makeTempDir("elsewhere");
    const auto exec = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
    const fs::path rclick = makeProgram(bin, "RClick", exec);
    makeProgram(bin, "kvrctl", exec);
    makeProgram(bin, "tactivo", exec | fs::perms::group_write); // a group member could swap it
    makeProgram(elsewhere, "RClick", exec);                     // a copy outside the install
    fs::create_symlink(rclick, elsewhere / "rclick-link");

    const struct {
        std::string entry;
        bool start;
        const char* reason; // part of the refusal
    } cases[] = {
        {"RClick", true, ""},
        {"rclick.EXE", true, ""},
        {rclick.string(), true, ""},
        {"\"" + rclick.string() + "\"", true, ""},
        {(bin / ".." / bin.filename() / "RClick").string(), true, ""},
        {(elsewhere / "rclick-link").string(), false, "not one of the suite's"},
        {(elsewhere / "RClick").string(), false, "not the installed program"},
        {"RClick -platformpluginpath /tmp", false, "arguments are not accepted"},
        {"sh -c 'id > /tmp/owned'", false, "arguments are not accepted"},
        {"/bin/sh", false, "not one of the suite's"},
        {"kvrctl", false, "not one of the suite's"},
        {"tactivo", false, "may be changed by others"},
        {"sketch", false, "not an installed program"},
        {"bin/RClick", false, "relative path"},
        {"", false, "empty entry"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        const auto verdict = judgeEntry(c.entry, bin);
        EXPECT_EQ(verdict.start, c.start) << verdict.reason;
        if (c.start)
            EXPECT_EQ(verdict.program, fs::canonical(rclick));
        else
            EXPECT_NE(verdict.reason.find(c.reason), std::string::npos) << verdict.reason;
    }
}
