// The Qt base of the windowed programs: the message-box automation switch, help and exit
// statuses, single instance, and windows placed on a display.

#include "gui/display_window.h"
#include "gui/message_box.h"
#include "gui/program.h"
#include "gui/single_instance.h"
#include "platform/desktop/message_box.h"
#include "tests/support/qt_support.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

using namespace kvr::desktop;

TEST(MessageBoxAutomation, AnswersInTurnThenDefaultButtons) {
    ::setenv("KVR_MESSAGE_ANSWERS", "no, retry,bogus", 1);
    kvr::gui::resetAutomatedAnswers();
    testing::internal::CaptureStderr();
    EXPECT_EQ(messageBox("Are you sure ??", "Restore", MB_YESNO), IDNO);
    EXPECT_EQ(messageBox("line one\nline two", "Err", MB_RETRYCANCEL), IDRETRY);
    // A word that names none of the box's buttons, then the used-up list: default buttons.
    EXPECT_EQ(messageBox("x", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(messageBox("y", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "messagebox: Restore: Are you sure ??\n"
                                                      "messagebox: Err: line one\\nline two\n"
                                                      "messagebox: c: x\nmessagebox: c: y\n");
    ::unsetenv("KVR_MESSAGE_ANSWERS");
}

TEST(ProgramInfo, HelpListsNegativeCodesWithTheirStatus) {
    static_assert(kvr::gui::exitStatus(-1) == 255 && kvr::gui::exitStatus(-30) == 226 &&
                  kvr::gui::exitStatus(0) == 0);
    const kvr::gui::ProgramInfo info{"cal3pt",
                                     "cal3pt CONTROLLER",
                                     "Calibrates.",
                                     "",
                                     {{0, "ended normally"}, {-30, "another copy runs"}}};
    const std::string help = kvr::gui::helpText(info);
    EXPECT_NE(help.find("Usage: cal3pt CONTROLLER"), std::string::npos);
    EXPECT_NE(help.find("226 (code -30)   another copy runs"), std::string::npos) << help;
}

TEST(SingleInstance, SecondCopyBringsTheFirstToTheFront) {
    auto first = kvr::gui::SingleInstance::acquire("CAL3PT");
    ASSERT_TRUE(first);
    QWidget window;
    first->attach(&window);
    ASSERT_FALSE(window.isVisible());
    bool other = false;
    EXPECT_FALSE(kvr::gui::SingleInstance::acquire("cal3pt", &other));
    EXPECT_TRUE(other);
    EXPECT_TRUE(kvr::test::waitForGui([&] { return window.isVisible(); }));
}

TEST(DisplayWindow, CoversTheScreenOrExactlyItsPart) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QWidget full;
    kvr::gui::showOnDisplay(&full, screen);
    EXPECT_TRUE(kvr::test::waitForGui([&] { return full.geometry() == screen; }));
    EXPECT_TRUE(full.windowFlags() & Qt::WindowStaysOnTopHint);

    const QRect part = kvr::gui::displayRect(screen.width() / 2, 0, screen.width(), 301);
    ASSERT_EQ(part.height(), 301);
    QWidget half;
    kvr::gui::showOnDisplay(&half, part);
    EXPECT_TRUE(kvr::test::waitForGui([&] { return half.geometry() == part; }));
    EXPECT_TRUE(half.windowFlags() & Qt::FramelessWindowHint);
}

} // namespace
