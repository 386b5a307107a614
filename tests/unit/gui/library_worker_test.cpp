// The library worker: requests run in order on its one thread while the GUI thread goes on
// processing events, message boxes raised there are shown by the GUI thread, and closing
// drops what has not started and lets the request in flight finish.

#include "gui/library_worker.h"
#include "platform/desktop/message_box.h"
#include "tests/support/qt_support.h"
#include "tests/support/test_env.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <future>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

namespace kvr::gui {
namespace {

TEST(LibraryWorker, RequestsRunInOrderOnItsThreadAndAnswerOnTheGuiThread) {
    LibraryWorker worker;
    std::vector<std::string> ran; // touched by the worker only, read after the last call
    std::vector<std::string> answered;
    bool workOnGuiThread = false;
    const auto step = [&](std::string name) {
        return [&, name] {
            workOnGuiThread |= QThread::currentThread() == qApp->thread();
            ran.push_back(name);
            return name;
        };
    };
    for (const char* name : {"a", "b"})
        worker.request(qApp, step(name), [&](const std::string& r) { answered.push_back(r); });
    // "c" waits for a handler that only the GUI thread's events can run: it queues "d" behind.
    std::promise<void> handlerRuns;
    QTimer::singleShot(0, [&] {
        handlerRuns.set_value();
        answered.push_back(worker.call(step("d")));
    });
    answered.push_back(worker.call([&, c = step("c")] {
        handlerRuns.get_future().wait_for(std::chrono::seconds(20));
        return c();
    }));
    ASSERT_TRUE(kvr::test::waitForGui([&] { return answered.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(answered, (std::vector<std::string>{"a", "b", "d", "c"}));
    EXPECT_FALSE(workOnGuiThread);
}

TEST(LibraryWorker, AMessageBoxOfTheWorkerIsShownByTheGuiThread) {
    ::unsetenv("KVR_MESSAGE_ANSWERS");
    LibraryWorker worker;
    bool boxOnGuiThread = false;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        boxOnGuiThread = box->thread() == qApp->thread();
        box->button(QMessageBox::No)->click();
    });
    answerer.start(5);
    const int answer =
        worker.call([] { return desktop::messageBox("Write it?", "Tool", desktop::MB_YESNO); });
    EXPECT_EQ(answer, desktop::IDNO);
    EXPECT_TRUE(boxOnGuiThread);
}

TEST(LibraryWorker, CloseDropsWhatHasNotStartedAndLetsTheRequestInFlightFinish) {
    ::unsetenv("KVR_MESSAGE_ANSWERS");
    LibraryWorker worker;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool inFlightDone = false;
    int boxAnswer = 0;
    std::vector<int> laterRan, answers;
    worker.request(
        qApp,
        [&] {
            released.wait();
            // Asked while the worker closes: its default answer, no box shown.
            boxAnswer =
                desktop::messageBox("Go on?", "Tool", desktop::MB_YESNO | desktop::MB_DEFBUTTON2);
            inFlightDone = true;
        },
        [&] { answers.push_back(0); });
    for (int i = 1; i <= 3; ++i)
        worker.request(
            qApp, [&, i] { laterRan.push_back(i); }, [&, i] { answers.push_back(i); });
    ASSERT_TRUE(kvr::test::waitUntil([&] { return worker.pending() == 3; }));

    std::thread closer([&] { worker.close(); });
    ASSERT_TRUE(kvr::test::waitUntil([&] { return worker.closed(); }));
    release.set_value();
    closer.join(); // the thread was joined: close returned
    EXPECT_TRUE(inFlightDone);
    EXPECT_EQ(boxAnswer, desktop::IDNO);
    EXPECT_TRUE(laterRan.empty());
    kvr::test::pumpGui(std::chrono::milliseconds(50));
    EXPECT_EQ(answers, std::vector<int>{0});

    bool ranAfterClose = false;
    EXPECT_EQ(worker.call([&] {
        ranAfterClose = true;
        return 7;
    }),
              0);
    EXPECT_FALSE(ranAfterClose);
}

} // namespace
} // namespace kvr::gui
