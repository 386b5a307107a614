#include "gui/widgets.h"

#include <QApplication>

namespace kvr::gui {

QFont cellFont(int cellPx) {
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setWeight(QFont::Bold);
    font.setPixelSize(cellPx > 0 ? cellPx : 1);
    return font;
}

} // namespace kvr::gui
