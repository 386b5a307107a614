#include "platform/common/paths.h"
#include "platform/common/unique_fd.h"
#include "tests/support/test_env.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>

namespace {

TEST(Paths, FollowTheEnvironmentAndCreateSubfolders) {
    EXPECT_EQ(kvr::paths::stateDir(), kvr::test::stateDir());
    EXPECT_EQ(kvr::paths::runtimeDir(), kvr::test::runtimeDir());
    auto dev = kvr::paths::runtimeSubdir("dev/nested");
    EXPECT_TRUE(std::filesystem::is_directory(dev));
}

TEST(Paths, DefaultsWhenUnset) {
    std::string saved = std::getenv("KVR_STATE_DIR");
    ::unsetenv("KVR_STATE_DIR");
    EXPECT_EQ(kvr::paths::stateDir(), "/var/lib/lumarcon");
    ::setenv("KVR_STATE_DIR", "", 1);
    EXPECT_EQ(kvr::paths::stateDir(), "/var/lib/lumarcon");
    ::setenv("KVR_STATE_DIR", saved.c_str(), 1);
}

TEST(UniqueFd, ClosesOnceAndMoves) {
    int raw = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(raw, 0);
    {
        kvr::UniqueFd a(raw);
        kvr::UniqueFd b(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(b.get(), raw);
    }
    EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
}

} // namespace
