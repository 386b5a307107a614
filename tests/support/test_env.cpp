#include "tests/support/test_env.h"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <system_error>
#include <thread>

namespace kvr::test {
namespace {

std::filesystem::path g_root;

class PrivateDirs : public ::testing::Environment {
public:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kvrtest.XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
        g_root = tmpl;
        std::filesystem::create_directories(g_root / "state");
        std::filesystem::create_directories(g_root / "run");
        ::setenv("KVR_STATE_DIR", (g_root / "state").c_str(), 1);
        ::setenv("KVR_RUNTIME_DIR", (g_root / "run").c_str(), 1);
        // Services started by tests write their trace lines to stderr, where tests read them.
        ::setenv("KVR_TRACE", "1", 1);
        // The desktop's own compositor is not the tests' (those that want one start theirs).
        ::unsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override {
        if (std::getenv("KVR_TEST_KEEP") != nullptr) return;
        std::error_code ec;
        std::filesystem::remove_all(g_root, ec);
    }
};

} // namespace

std::filesystem::path stateDir() {
    return g_root / "state";
}
std::filesystem::path runtimeDir() {
    return g_root / "run";
}

std::filesystem::path makeTempDir(const std::string& prefix) {
    std::string tmpl = (g_root / (prefix + ".XXXXXX")).string();
    if (::mkdtemp(tmpl.data()) == nullptr) return {};
    return tmpl;
}

std::filesystem::path program(const std::string& name) {
    return std::filesystem::path(KVR_BIN_DIR) / name;
}
std::filesystem::path sourceDir() {
    return KVR_SOURCE_DIR;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline,
               std::chrono::milliseconds step) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return condition();
        std::this_thread::sleep_for(step);
    }
}

int runAllTests(int& argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PrivateDirs);
    return RUN_ALL_TESTS();
}

} // namespace kvr::test
