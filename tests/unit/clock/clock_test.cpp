#include "platform/clock/clock.h"

#include <climits>
#include <gtest/gtest.h>
#include <optional>

namespace {

using namespace std::chrono_literals;
namespace clk = kvr::clock;

TEST(Clock, SleepLastsAtLeastTheDuration) {
    // Lower bounds only: a loaded machine may sleep longer, never shorter.
    clk::Stopwatch watch;
    clk::sleepFor(30ms);
    EXPECT_GE(watch.elapsedMs(), 30);
    EXPECT_GE(watch.elapsed(), 30ms);

    watch.restart();
    clk::sleepFor(1500us);
    EXPECT_GE(watch.elapsedUs(), 1500);

    watch.restart();
    clk::sleepFor(std::chrono::seconds(0));
    clk::sleepFor(std::chrono::duration<long, std::ratio<1, 100>>(2)); // any whole unit
    EXPECT_GE(watch.elapsedMs(), 20);

    auto target = clk::now() + 20ms;
    clk::sleepUntil(target);
    EXPECT_GE(clk::now(), target);
}

TEST(Clock, NothingToSleepReturnsAtOnce) {
    // A sleep that would not return would hit the test's time limit.
    clk::sleepFor(0ms);
    clk::sleepFor(-5ms);
    clk::sleepFor(-1us);
    clk::sleepUntil(clk::now() - 1h);
    clk::sleepUntil(clk::TimePoint{});
    SUCCEED();
}

TEST(Clock, ElapsedIsTruncatedAndNeverNegative) {
    EXPECT_EQ(clk::elapsedMs(clk::now() + 1h), 0);
    EXPECT_EQ(clk::elapsedUs(clk::now() + 1h), 0);
    EXPECT_GE(clk::elapsedMs(clk::now() - 2500ms), 2500);
    EXPECT_LT(clk::elapsedMs(clk::now() - 2500ms), 2500 + 60000);
    EXPECT_GE(clk::elapsedUs(clk::now() - 1ms), 1000);

    clk::Stopwatch watch;
    auto a = watch.elapsed();
    auto b = watch.elapsed();
    EXPECT_LE(a, b); // steady: never goes back
    EXPECT_LE(watch.started(), clk::now());
}

TEST(Clock, DeadlineRoundsPollTimeoutsUp) {
    clk::Deadline past(clk::now() - 1ms);
    EXPECT_TRUE(past.expired());
    EXPECT_EQ(past.remaining(), clk::Duration::zero());
    EXPECT_EQ(past.pollTimeoutMs(), 0);

    // Less than a millisecond left must still wait (1 ms), not poll with 0 in a tight loop.
    clk::Deadline soon(300us);
    int t = soon.pollTimeoutMs();
    EXPECT_TRUE(t == 1 || (t == 0 && soon.expired()));

    clk::Deadline later(10s);
    EXPECT_FALSE(later.expired());
    EXPECT_GT(later.pollTimeoutMs(), 9000);
    EXPECT_LE(later.pollTimeoutMs(), 10000);
    EXPECT_LE(later.remaining(), 10s);

    clk::Deadline far(std::chrono::milliseconds(static_cast<long long>(INT_MAX) * 4));
    EXPECT_EQ(far.pollTimeoutMs(), INT_MAX);
}

TEST(Clock, OptionalTimeoutToPollTimeout) {
    struct Case {
        std::optional<std::chrono::milliseconds> timeout;
        int expected;
    };
    const Case cases[] = {
        {std::nullopt, -1},
        {0ms, 0},
        {-5ms, 0},
        {1ms, 1},
        {2500ms, 2500},
        {std::chrono::milliseconds(INT_MAX), INT_MAX},
        {std::chrono::milliseconds(static_cast<long long>(INT_MAX) + 1), INT_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clk::pollTimeoutMs(c.timeout), c.expected)
            << (c.timeout ? c.timeout->count() : -1);
    }
}

} // namespace
