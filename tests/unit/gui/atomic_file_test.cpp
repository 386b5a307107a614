// Replacing a file all at once: the new contents in place, or the old file untouched.

#include "platform/common/atomic_file.h"
#include "platform/common/paths.h"
#include "tests/support/test_env.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdlib.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(AtomicFile, ReplacesWholeOrLeavesTheOldFile) {
    const fs::path dir = kvr::test::makeTempDir("atomic");
    const fs::path file = dir / "eepdef.eep";
    ASSERT_TRUE(kvr::files::writeFileAtomically(file, "old\n"));
    fs::permissions(file, fs::perms(0640));
    ASSERT_TRUE(kvr::files::writeFileAtomically(file, "new\n"));
    EXPECT_EQ(slurp(file), "new\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));

    // A target that cannot be replaced (a folder of that name): false, a reason, nothing left.
    fs::create_directory(dir / "busy");
    fs::create_directory(dir / "busy" / "x");
    std::string error;
    EXPECT_FALSE(kvr::files::writeFileAtomically(dir / "busy", "data", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(kvr::files::writeFileAtomically(dir / "missing" / "f", "data", &error));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST(ConfigFiles, CurrentFolderFirstThenTheConfigFolder) {
    const fs::path cwd = kvr::test::makeTempDir("cwd"), conf = kvr::test::makeTempDir("conf");
    const fs::path before = fs::current_path();
    fs::current_path(cwd);
    ::setenv("KVR_CONFIG_DIR", conf.c_str(), 1);
    std::ofstream(conf / "errmsg.txt") << "x";
    EXPECT_EQ(kvr::paths::findConfigFile("errmsg.txt"), conf / "errmsg.txt");
    std::ofstream(cwd / "errmsg.txt") << "y";
    EXPECT_EQ(kvr::paths::findConfigFile("errmsg.txt"), fs::path("errmsg.txt"));
    EXPECT_EQ(kvr::paths::findConfigFile("none.txt"), fs::path("none.txt"));
    fs::current_path(before);
    ::unsetenv("KVR_CONFIG_DIR");
}

} // namespace
