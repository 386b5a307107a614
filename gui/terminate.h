#pragma once
// Ending a windowed program from outside as if its window had been closed: SIGTERM ("destroy")
// closes the window, so the program runs its normal way out (a scan stopped, report modes
// given back). SIGUSR1 ("bring to front") raises it.

class QWidget;

namespace kvr::gui {

// From now on SIGTERM closes `window` and SIGUSR1 brings it to the front. A program that must
// not lose a SIGTERM sent before its window exists calls desktop::windowMessageFd() first
// thing in main; the messages wait until this call.
void closeOnTerminate(QWidget* window);

} // namespace kvr::gui
