// sketch's window on a 1024 x 768 monitor: the grid where the integer arithmetic puts it,
// drawing with the left button alone, Esc clearing then ending; and the monitor argument.

#include "tests/support/qt_support.h"
#include "utilities/sketch/sketch_layout.h"
#include "utilities/sketch/sketch_window.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

namespace {

using kvr::sketch::SketchWindow;

const QRgb kGray = qRgb(128, 128, 128), kWhite = qRgb(255, 255, 255), kYellow = qRgb(255, 255, 0),
           kRed = qRgb(255, 0, 0);

// The colour a grid line set gives position p: white on a line, yellow `band` away, else gray.
QRgb gridColour(int p, const std::set<int>& lines, int band) {
    if (lines.count(p) != 0) return kWhite;
    if (lines.count(p - band) != 0 || lines.count(p + band) != 0) return kYellow;
    return kGray;
}

void mouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(at), w.mapToGlobal(QPointF(at)), button, held, modifiers);
    QApplication::sendEvent(&w, &event);
}

void stroke(QWidget& w, QPoint from, QPoint to, Qt::MouseButton button,
            Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    mouse(w, QEvent::MouseButtonPress, from, button, button, modifiers);
    mouse(w, QEvent::MouseMove, to, Qt::NoButton, button, modifiers);
    mouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton, modifiers);
}

TEST(Sketch, GridAndButtonsOnA1024By768Monitor) {
    SketchWindow window(QSize(1024, 768));
    window.show();
    const QImage image = kvr::test::grabImage(&window);
    ASSERT_EQ(image.size(), QSize(1024, 768));
    const std::set<int> xs{32, 272, 512, 752, 992}, ys{24, 204, 384, 564, 744};
    for (int x = 0; x < 1024; ++x) // row 100 crosses only the vertical lines
        ASSERT_EQ(image.pixel(x, 100), gridColour(x, xs, 10)) << "x " << x;
    for (int y = 0; y < 768; ++y)
        ASSERT_EQ(image.pixel(100, y), gridColour(y, ys, 7)) << "y " << y;
    EXPECT_EQ(window.findChild<QPushButton*>("Clear")->geometry(), QRect(362, 284, 100, 50));
    EXPECT_EQ(window.findChild<QPushButton*>("Exit")->geometry(), QRect(562, 284, 100, 50));
}

TEST(Sketch, DrawsWithTheLeftButtonAloneEscClearsThenEnds) {
    SketchWindow window(QSize(1024, 768));
    window.show();
    stroke(window, {100, 150}, {300, 150}, Qt::LeftButton);
    stroke(window, {100, 450}, {300, 450}, Qt::RightButton);
    stroke(window, {100, 500}, {300, 500}, Qt::LeftButton, Qt::ShiftModifier);
    QImage image = kvr::test::grabImage(&window);
    EXPECT_EQ(image.pixel(150, 150), kRed);
    EXPECT_EQ(image.pixel(300, 150), kRed);
    EXPECT_EQ(image.pixel(150, 450), kGray);
    EXPECT_EQ(image.pixel(150, 500), kGray);
    EXPECT_TRUE(window.drawn());

    QTest::keyClick(&window, Qt::Key_Escape); // clears: the grid alone again
    image = kvr::test::grabImage(&window);
    EXPECT_EQ(image.pixel(150, 150), kGray);
    EXPECT_EQ(image.pixel(272, 150), kWhite);
    EXPECT_FALSE(window.drawn());
    EXPECT_TRUE(window.isVisible());
    QTest::keyClick(&window, Qt::Key_Escape); // a clean window: ends
    EXPECT_FALSE(window.isVisible());
}

TEST(Sketch, ArgumentPicksTheMonitor) {
    struct Case {
        const char* arguments;
        std::size_t monitors;
        int selected;
    } cases[] = {
        {"", 2, 1},      {"-2", 1, 1},    {"-2", 2, 2},    {"-0", 2, 1},
        {"2", 2, 1},     {"x -3y", 3, 3}, {"--2", 3, 1},   {"-10", 9, 1},
        {"-10", 12, 10}, {"- 2", 2, 1},   {"-2 -3", 3, 2}, {"-99999999999999999999999", 4, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kvr::sketch::selectMonitor(c.arguments, c.monitors), c.selected)
            << "\"" << c.arguments << "\" with " << c.monitors;
}

} // namespace
