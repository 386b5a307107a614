#include "platform/clock/clock.h"
#include "platform/ipc/event.h"

#include <array>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using kvr::UniqueFd;
using kvr::ipc::Event;
using kvr::ipc::ResetMode;
namespace status = kvr::ipc::status;

Event make(ResetMode mode = ResetMode::Manual) {
    auto e = Event::create(mode);
    if (!e) throw std::runtime_error("eventfd");
    return std::move(*e);
}

int waitAnyOf(std::initializer_list<const Event*> list,
              std::optional<std::chrono::milliseconds> timeout = 0ms) {
    std::vector<const Event*> v(list);
    return kvr::ipc::waitAny(v, timeout);
}

TEST(Event, SetResetAndIsSet) {
    Event e = make();
    EXPECT_FALSE(e.isSet());
    e.set();
    EXPECT_TRUE(e.isSet());
    EXPECT_TRUE(e.isSet()); // looking does not consume
    e.set();                // setting a set event changes nothing
    e.reset();              // one reset clears it however often it was set
    EXPECT_FALSE(e.isSet());
    e.reset(); // resetting a clear event is harmless
    EXPECT_FALSE(e.isSet());
}

TEST(Event, ManualResetStaysSetAfterAWait) {
    Event e = make(ResetMode::Manual);
    e.set();
    EXPECT_TRUE(e.wait(0ms));
    EXPECT_TRUE(e.wait(0ms));
    EXPECT_TRUE(e.isSet());
}

TEST(Event, AutoResetWaitConsumesTheSignal) {
    Event e = make(ResetMode::Auto);
    e.set();
    e.set();
    EXPECT_TRUE(e.isSet());
    EXPECT_TRUE(e.wait(0ms));
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(0ms));
}

TEST(Event, WaitTimesOutWhenNothingIsSet) {
    Event e = make();
    kvr::clock::Stopwatch watch;
    EXPECT_FALSE(e.wait(40ms));
    EXPECT_GE(watch.elapsedMs(), 40);
    EXPECT_FALSE(e.wait(-3ms)); // a negative timeout only tests

    watch.restart();
    EXPECT_EQ(waitAnyOf({&e}, 30ms), -1);
    EXPECT_GE(watch.elapsedMs(), 30);
}

TEST(Event, WaitWakesWhenAnotherThreadSets) {
    Event e = make();
    auto copy = e.duplicate();
    ASSERT_TRUE(copy);
    std::thread setter([&] {
        kvr::clock::sleepFor(20ms);
        copy->set();
    });
    EXPECT_TRUE(e.wait(20s));
    setter.join();
    // The duplicate is another descriptor on the same event.
    EXPECT_NE(copy->fd(), e.fd());
    copy->reset();
    EXPECT_FALSE(e.isSet());
}

TEST(Event, WaitAnyReturnsTheFirstSetInPriorityOrder) {
    Event a = make(), b = make(), c = make();
    EXPECT_EQ(waitAnyOf({&a, &b, &c}), -1);
    c.set();
    b.set();
    EXPECT_EQ(waitAnyOf({&a, &b, &c}), 1);
    EXPECT_EQ(waitAnyOf({&a, &b, &c}), 1); // manual: still set
    EXPECT_EQ(waitAnyOf({&c, &b, &a}), 0); // the order given is the priority
    b.reset();
    EXPECT_EQ(waitAnyOf({&a, &b, &c}), 2);
    a.set();
    EXPECT_EQ(waitAnyOf({&a, &b, &c}), 0);
    EXPECT_EQ(waitAnyOf({nullptr, &b, &c}), 2); // null entries are skipped, indexes kept
}

TEST(Event, WaitAnyConsumesOnlyTheAutoResetEventItReturns) {
    Event a = make(ResetMode::Auto), b = make(ResetMode::Auto), c = make(ResetMode::Auto);
    b.set();
    c.set();
    EXPECT_EQ(waitAnyOf({&a, &b, &c}), 1);
    EXPECT_TRUE(c.isSet());
    EXPECT_EQ(waitAnyOf({&a, &b, &c}), 2);
    EXPECT_EQ(waitAnyOf({&a, &b, &c}, 10ms), -1);
}

TEST(Event, WaitAnyWithNothingToWaitForEndsAtTheTimeout) {
    EXPECT_EQ(kvr::ipc::waitAny({}, 10ms), -1);
    EXPECT_EQ(kvr::ipc::waitAny({}, std::nullopt), -1); // would never end otherwise
    EXPECT_EQ(waitAnyOf({nullptr}, std::nullopt), -1);
}

TEST(Event, EventFdCheck) {
    Event e = make();
    EXPECT_TRUE(kvr::ipc::isEventFd(e.fd()));

    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    UniqueFd r(p[0]), w(p[1]);
    UniqueFd null(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_FALSE(kvr::ipc::isEventFd(r.get()));
    EXPECT_FALSE(kvr::ipc::isEventFd(null.get()));
    EXPECT_FALSE(kvr::ipc::isEventFd(-1));
    int closed = ::dup(null.get());
    ::close(closed);
    EXPECT_FALSE(kvr::ipc::isEventFd(closed));
}

TEST(Event, AdoptAcceptsOnlyAnEventFd) {
    struct Case {
        const char* what;
        std::function<UniqueFd()> make;
        std::uint32_t status;
    };
    const Case cases[] = {
        {"eventfd", [] { return UniqueFd(::eventfd(0, EFD_CLOEXEC)); }, status::kSuccess},
        {"no descriptor", [] { return UniqueFd(); }, status::kInvalidHandle},
        {"file", [] { return UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC)); },
         status::kObjectTypeMismatch},
        {"pipe",
         [] {
             int p[2];
             if (::pipe(p) != 0) return UniqueFd();
             ::close(p[1]);
             return UniqueFd(p[0]);
         },
         status::kObjectTypeMismatch},
    };
    for (const auto& c : cases) {
        std::uint32_t st = 0x12345678;
        auto e = Event::adopt(c.make(), &st);
        EXPECT_EQ(st, c.status) << c.what;
        EXPECT_EQ(e.has_value(), c.status == status::kSuccess) << c.what;
    }
}

TEST(Event, SetNeverBlocksEvenOnABlockingFullCounter) {
    // A client could hand the daemon an eventfd made blocking with its counter at the maximum;
    // set() on it must still return at once (the event is set anyway).
    int raw = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(raw, 0);
    const std::uint64_t full = 0xFFFFFFFFFFFFFFFEULL;
    ASSERT_EQ(::write(raw, &full, sizeof full), 8);
    auto e = Event::adopt(UniqueFd(raw));
    ASSERT_TRUE(e);
    ::fcntl(e->fd(), F_SETFL, ::fcntl(e->fd(), F_GETFL) & ~O_NONBLOCK);
    e->set();
    EXPECT_TRUE(e->isSet());
    ::fcntl(e->fd(), F_SETFL, ::fcntl(e->fd(), F_GETFL) & ~O_NONBLOCK);
    e->reset();
    e->reset(); // on a blocking descriptor a second drain would otherwise block for ever
    EXPECT_FALSE(e->isSet());
}

} // namespace
