#include "utilities/sketch/sketch_window.h"

#include "gui/widgets.h"
#include "utilities/sketch/sketch_layout.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

namespace kvr::sketch {

namespace {

const QColor kGray(128, 128, 128); // the stock gray brush
const QColor kWhite(255, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

QRect boxRect(const ButtonBox& b) {
    return QRect(b.left, b.top, b.width, b.height);
}

QPushButton* makeButton(QWidget* parent, const char* caption) {
    auto* button = gui::named(new QPushButton(QString::fromLatin1(caption), parent), caption,
                              QString::fromLatin1(caption));
    // The window keeps the keyboard, so Esc always reaches it.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

SketchWindow::SketchWindow(QSize sizePx) : gui::Canvas(nullptr, kGray) {
    setObjectName(QStringLiteral("SKETCH"));
    setFocusPolicy(Qt::StrongFocus);
    clear_ = makeButton(this, "Clear");
    exit_ = makeButton(this, "Exit");
    connect(clear_, &QPushButton::clicked, this, &SketchWindow::clearDrawing);
    connect(exit_, &QPushButton::clicked, this, &QWidget::close);
    resize(sizePx);
}

void SketchWindow::resizeEvent(QResizeEvent* event) {
    gui::Canvas::resizeEvent(event);
    const int w = width(), h = height();
    clear_->setGeometry(boxRect(clearButtonBox(w, h)));
    exit_->setGeometry(boxRect(exitButtonBox(w, h)));
    // A new size is a full repaint: the grid of that size, no trace.
    paintGrid();
}

void SketchWindow::paintGrid() {
    clear();
    const int w = width(), h = height();
    const Grid g = gridFor(w, h);
    QPainter p(&picture());
    p.setRenderHint(QPainter::Antialiasing, false);
    auto vertical = [&](int x, const QColor& c) {
        p.setPen(QPen(c, 0));
        p.drawLine(x, 0, x, h - 1);
    };
    auto horizontal = [&](int y, const QColor& c) {
        p.setPen(QPen(c, 0));
        p.drawLine(0, y, w - 1, y);
    };
    for (int x : g.whiteX)
        vertical(x, kWhite);
    for (int y : g.whiteY)
        horizontal(y, kWhite);
    for (int x : g.whiteX) {
        vertical(x - g.bandX, kYellow);
        vertical(x + g.bandX, kYellow);
    }
    for (int y : g.whiteY) {
        horizontal(y - g.bandY, kYellow);
        horizontal(y + g.bandY, kYellow);
    }
}

void SketchWindow::clearDrawing() {
    paintGrid();
    drawn_ = false;
    penDown_ = false;
}

void SketchWindow::mousePressEvent(QMouseEvent* event) {
    // A touch is the left button alone: no other button, no Shift or Ctrl.
    const bool leftAlone = event->button() == Qt::LeftButton &&
                           event->buttons() == Qt::LeftButton &&
                           (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) == 0;
    if (!leftAlone) return;
    last_ = event->position().toPoint();
    penDown_ = true;
    drawn_ = true;
}

void SketchWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!penDown_) return;
    const QPoint to = event->position().toPoint();
    {
        QPainter p(&picture());
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(kRed, 0));
        p.drawLine(last_, to);
    }
    update(QRect(last_, to).normalized().adjusted(-1, -1, 1, 1));
    last_ = to;
    drawn_ = true;
}

void SketchWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) penDown_ = false;
}

void SketchWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) {
        gui::Canvas::keyPressEvent(event);
        return;
    }
    // Esc clears a drawing; on a clean window it ends the program.
    if (drawn_)
        clearDrawing();
    else
        close();
}

} // namespace kvr::sketch
