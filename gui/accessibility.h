#pragma once
// What screen readers and keyboard users get from every window of the suite beyond Qt's
// defaults: tabs that say when they are disabled, sliders that speak the value the window
// shows (milliseconds, hertz) instead of their raw steps, a painted progress bar that is a
// real progress value, option buttons that act on their state whoever changed it, and Enter
// on a focused button pressing it as Space does.

#include <QString>
#include <functional>

class QAbstractButton;
class QAbstractSlider;
class QLabel;
class QObject;
class QWidget;

namespace kvr::gui {

// Installs the accessible interfaces above and the Enter key for focused buttons, for the
// whole process. Called once by installProgramHooks; harmless to call again.
void installAccessibility();

// Runs `chosen` whenever `option` becomes checked: by a click, the keyboard, the
// accessibility bus's action or a setChecked in code. (A click on an option that is already
// checked changes nothing and runs nothing.)
void onChecked(QAbstractButton* option, QObject* context, std::function<void()> chosen);

// The option's handler as a selection in code runs it: checks `option`, which runs what
// onChecked connected; when it already was checked, runs its handlers all the same.
void selectInCode(QAbstractButton* option);

// Ties `valueLabel` to `slider`: the label is announced as the slider's value label, and the
// slider's accessible value is the number the label shows (in `unit`), which a value set
// through the accessibility bus turns back into slider steps by dividing by `stepFactor`.
// Tying a slider again changes its factor and unit.
void tieValueLabel(QAbstractSlider* slider, QLabel* valueLabel, double stepFactor,
                   const QString& unit);

// Makes `widget` a progress bar for assistive technology, from 0 to `maximum`.
void makeProgressIndicator(QWidget* widget, int maximum);
// Its present value; announced as a value change.
void setProgressValue(QWidget* widget, int value);

} // namespace kvr::gui
