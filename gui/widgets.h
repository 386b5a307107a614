#pragma once
// Small helpers for building the programs' forms.

#include <QFont>
#include <QString>
#include <QWidget>

namespace kvr::gui {

// Gives a control its name (objectName: how tests and tools find it) and its caption as the
// accessible name (how screen readers and AT-SPI tools find it). Returns the control.
// Without a caption the control speaks its own text (a label its text, whatever it is at
// the moment), never its internal name.
template <class W> W* named(W* widget, const char* controlName, const QString& caption = {}) {
    widget->setObjectName(QString::fromLatin1(controlName));
    if (!caption.isEmpty()) widget->setAccessibleName(caption);
    return widget;
}

// The bold font of the programs' big texts: a character cell `cellPx` pixels high, in the
// application's proportional face.
QFont cellFont(int cellPx);
// The same with a character cell `widthPx` wide on average (the glyphs stretched to it where
// the face can be stretched): the "height x width" fonts of the programs' painted texts.
QFont cellFont(int cellPx, int widthPx);

// The contents of a window that is not full-screen: a widget inside a frameless scroll area
// that fills `window`. Lay the window's controls out on it. At its design size the window
// looks as without it; on a screen too small for that (a small display, a large scale) the
// contents scroll instead of lying off-screen.
QWidget* scrollingContent(QWidget* window);

// Sizes `window` for contents of `designSize`: that size where the screen's available area
// allows it, else as much as fits (the contents scroll), never larger than the design, and
// moves it so that its frame lies on the screen, centred when `centre` is set.
void fitToScreen(QWidget* window, QSize designSize, bool centre = true);

} // namespace kvr::gui
