#pragma once
// For windows that must do something before the program ends (resume a controller's
// reports, finish writing its memory): SIGTERM closes the window as the user's own close
// would, so its close handling runs; SIGUSR1 brings it to the front. Programs that register
// a single instance get the same through SingleInstance::attach.

class QWidget;

namespace kvr::gui {

// From now on SIGTERM closes `window` (its closeEvent decides what follows) and SIGUSR1
// raises it. Call once, for the program's main window.
void closeOnTerminate(QWidget* window);

} // namespace kvr::gui
