#include "protocol/wait.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// Only lower bounds are checked: a wait may end late on a busy machine, never early.

TEST(WaitMilliseconds, LastsAtLeastTheGivenTimeWithoutAPump) {
    kvr::protocol::setEventPump({});
    auto start = Clock::now();
    kvr::protocol::WaitMilliseconds(40);
    EXPECT_GE(since(start), milliseconds(40));
}

TEST(WaitMilliseconds, RunsThePumpWhileWaiting) {
    int runs = 0;
    auto start = Clock::now();
    kvr::protocol::WaitMilliseconds(60, [&] { ++runs; });
    EXPECT_GE(since(start), milliseconds(60));
    EXPECT_GE(runs, 1);
}

TEST(WaitMilliseconds, UsesTheProcessWidePump) {
    int runs = 0;
    kvr::protocol::setEventPump([&] { ++runs; });
    kvr::protocol::WaitMilliseconds(30);
    kvr::protocol::setEventPump({});
    EXPECT_GE(runs, 1);
    const int before = runs;
    kvr::protocol::WaitMilliseconds(20);
    EXPECT_EQ(runs, before); // removed
}

TEST(WaitMilliseconds, AnEventHandlerMayWaitInsideTheWait) {
    // A second click handled by the pump starts its own exchange; the first wait still lasts
    // its full time afterwards.
    bool nested = false;
    auto start = Clock::now();
    kvr::protocol::WaitMilliseconds(30, [&] {
        if (nested) return;
        nested = true;
        kvr::protocol::WaitMilliseconds(50, [] {});
    });
    EXPECT_TRUE(nested);
    EXPECT_GE(since(start), milliseconds(50));
}

TEST(WaitMilliseconds, ZeroReturnsWithoutRunningThePump) {
    int runs = 0;
    kvr::protocol::WaitMilliseconds(0, [&] { ++runs; });
    EXPECT_EQ(runs, 0);
}

} // namespace
