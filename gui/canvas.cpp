#include "gui/canvas.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

namespace kvr::gui {

Canvas::Canvas(QWidget* parent, QColor background) : QWidget(parent), background_(background) {
    // The pixmap covers the whole widget: Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Canvas::clear() {
    picture_.fill(background_);
    update();
}

void Canvas::resizeEvent(QResizeEvent* event) {
    // A new size starts a new picture, keeping what fits of the old one.
    QPixmap next(event->size());
    next.fill(background_);
    if (!picture_.isNull()) {
        QPainter p(&next);
        p.drawPixmap(0, 0, picture_);
    }
    picture_ = std::move(next);
    QWidget::resizeEvent(event);
}

void Canvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.drawPixmap(event->rect(), picture_, event->rect());
    paintOverlay(painter);
}

void Canvas::paintOverlay(QPainter&) {}

} // namespace kvr::gui
