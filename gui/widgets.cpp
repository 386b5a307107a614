#include "gui/widgets.h"

#include <QApplication>
#include <QFontMetrics>
#include <algorithm>

namespace kvr::gui {

QFont cellFont(int cellPx) {
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setWeight(QFont::Bold);
    font.setPixelSize(cellPx > 0 ? cellPx : 1);
    return font;
}

QFont cellFont(int cellPx, int widthPx) {
    QFont font = cellFont(cellPx);
    const int average = QFontMetrics(font).averageCharWidth();
    if (widthPx > 0 && average > 0) font.setStretch(std::clamp(100 * widthPx / average, 1, 4000));
    return font;
}

} // namespace kvr::gui
