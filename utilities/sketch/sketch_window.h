#pragma once
// The drawing test's window: the reference grid on gray, a red trace while the left button
// (a touch) is held, and the "Clear" and "Exit" buttons. The trace goes into the canvas's
// picture, so it stays until "Clear" (or Esc) brings the grid back.

#include "gui/canvas.h"

#include <QPoint>

class QPushButton;

namespace kvr::sketch {

class SketchWindow : public gui::Canvas {
    Q_OBJECT
public:
    // Sized for the monitor `sizePx` (the buttons are placed from it).
    explicit SketchWindow(QSize sizePx);

    // Something was drawn since the last clearing.
    [[nodiscard]] bool drawn() const { return drawn_; }
    [[nodiscard]] bool penDown() const { return penDown_; }

public slots:
    // "Clear": the grid alone again; the trace and both flags go.
    void clearDrawing();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void paintGrid();

    QPushButton* clear_ = nullptr;
    QPushButton* exit_ = nullptr;
    bool penDown_ = false;
    bool drawn_ = false;
    QPoint last_;
};

} // namespace kvr::sketch
