#pragma once
// A widget whose picture is kept in a backing pixmap: what the program draws "straight onto
// the window" goes into the pixmap and stays there until the program clears it, and paint
// events only copy the pixmap (then the widget's own overlay, if a subclass paints one).
// So a drawing survives expose events on every platform, exactly as long as the program
// wants it to.

#include <QColor>
#include <QPixmap>
#include <QWidget>

class QPainter;

namespace kvr::gui {

class Canvas : public QWidget {
    Q_OBJECT
public:
    explicit Canvas(QWidget* parent = nullptr, QColor background = Qt::lightGray);

    // The picture; paint on it with QPainter, then call update().
    QPixmap& picture() { return picture_; }
    // Fills the picture with the background colour (the "full repaint" of the window).
    void clear();
    QColor background() const { return background_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // What a subclass draws on every repaint over the picture (texts); nothing by default.
    virtual void paintOverlay(QPainter& painter);

private:
    QPixmap picture_;
    QColor background_;
};

} // namespace kvr::gui
