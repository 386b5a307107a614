#include "platform/desktop/windows.h"
#include "tests/support/test_env.h"
#include "tests/unit/desktop/forked_child.h"

#include <gtest/gtest.h>
#include <poll.h>

namespace kvr::desktop {
namespace {

using kvr::test::ForkedChild;

// A program with a window named "RClick" that reports each window message it gets and
// closes its window on "destroy".
int windowProgram(int fd) {
    const int messages = windowMessageFd();
    auto window = WindowRegistration::create("RClick");
    kvr::test::report(fd, window && messages >= 0 ? 'R' : 'X');
    for (;;) {
        pollfd p{messages, POLLIN, 0};
        ::poll(&p, 1, -1);
        while (auto m = readWindowMessage()) {
            if (*m == WindowMessage::BringToFront) {
                kvr::test::report(fd, 'F');
            } else {
                window.reset(); // the window closes
                kvr::test::report(fd, 'D');
                return 0;
            }
        }
    }
}

TEST(Windows, FindBringToFrontAndDestroyAnotherProgramsWindow) {
    ForkedChild child(windowProgram);
    ASSERT_EQ(child.nextReport(), 'R');
    EXPECT_EQ(findWindow("RClick"), child.pid());
    EXPECT_EQ(findWindow("rclick"), child.pid());
    EXPECT_FALSE(WindowRegistration::create("RClick")); // one owner per name

    EXPECT_TRUE(bringToFront("RClick"));
    EXPECT_EQ(child.nextReport(), 'F');
    EXPECT_TRUE(sendDestroy("RClick"));
    EXPECT_EQ(child.nextReport(), 'D');
    const int status = child.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_FALSE(findWindow("RClick"));
    EXPECT_FALSE(sendDestroy("RClick"));
    EXPECT_FALSE(bringToFront("RClick"));
}

TEST(Windows, ACrashedProgramsWindowIsGone) {
    ForkedChild child([](int fd) {
        auto window = WindowRegistration::create("CAL3PT");
        kvr::test::report(fd, window ? 'R' : 'X');
        for (;;)
            ::pause();
        return 0;
    });
    ASSERT_EQ(child.nextReport(), 'R');
    EXPECT_EQ(findWindow("CAL3PT"), child.pid());
    ::kill(child.pid(), SIGKILL);
    child.wait();
    EXPECT_FALSE(findWindow("CAL3PT"));
    EXPECT_FALSE(sendDestroy("CAL3PT")); // nothing signalled, whoever has that pid now
    auto mine = WindowRegistration::create("CAL3PT");
    ASSERT_TRUE(mine);
    EXPECT_EQ(findWindow("CAL3PT"), ::getpid());
}

TEST(Windows, ADestroyWithoutAHandlerEndsTheProgram) {
    ForkedChild child([](int fd) {
        auto window = WindowRegistration::create("LINEAR");
        kvr::test::report(fd, window ? 'R' : 'X');
        for (;;)
            ::pause();
        return 0;
    });
    ASSERT_EQ(child.nextReport(), 'R');
    EXPECT_TRUE(sendDestroy("LINEAR"));
    const int status = child.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_FALSE(findWindow("LINEAR"));
}

TEST(Windows, SignalsBecomeMessagesInOrder) {
    ASSERT_GE(windowMessageFd(), 0);
    EXPECT_EQ(windowMessageFd(), windowMessageFd());
    EXPECT_FALSE(readWindowMessage());
    ::raise(SIGUSR1);
    ::raise(SIGTERM); // caught: the test process lives on
    EXPECT_EQ(readWindowMessage(), WindowMessage::BringToFront);
    EXPECT_EQ(readWindowMessage(), WindowMessage::Destroy);
    EXPECT_FALSE(readWindowMessage());
}

} // namespace
} // namespace kvr::desktop
