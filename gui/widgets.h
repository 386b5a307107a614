#pragma once
// Small helpers for building the programs' forms.

#include <QFont>
#include <QString>
#include <QWidget>

namespace kvr::gui {

// Gives a control its name (objectName: how tests and tools find it) and its caption as the
// accessible name (how screen readers and AT-SPI tools find it). Returns the control.
template <class W> W* named(W* widget, const char* controlName, const QString& caption = {}) {
    widget->setObjectName(QString::fromLatin1(controlName));
    widget->setAccessibleName(caption.isEmpty() ? QString::fromLatin1(controlName) : caption);
    return widget;
}

// The bold font of the programs' big texts: a character cell `cellPx` pixels high, in the
// application's proportional face.
QFont cellFont(int cellPx);
// The same with a character cell `widthPx` wide on average (the glyphs stretched to it where
// the face can be stretched): the "height x width" fonts of the programs' painted texts.
QFont cellFont(int cellPx, int widthPx);

} // namespace kvr::gui
