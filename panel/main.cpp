// tactivo: the control panel of the Lumarcon touch controllers.

#include "gui/library_worker.h"
#include "gui/program.h"
#include "panel/frm_main.h"
#include "platform/desktop/command_line.h"

#include <QApplication>
#include <QTimer>

namespace {

const kvr::gui::ProgramInfo kInfo{
    "tactivo",
    "tactivo",
    "The control panel of the touch controllers: lists the controllers, shows their\n"
    "identity and firmware, sets the driver's touch mode, rotation, right click, double\n"
    "click and sounds, the controller's sensitivity and parameters, starts the calibration,\n"
    "drawing and backup programs, resets the controller and restores its defaults. At the\n"
    "first start it backs up the controller's settings silently.\n",
    "  errmsg.txt                     message texts (current folder, then $KVR_CONFIG_DIR)\n"
    "  touch3203.fmt, touch32.fmt     customisation file (current folder, then $KVR_CONFIG_DIR)\n"
    "  pic01.jpg, orvell.ico          logo and window icon (same places)\n"
    "  cursoroff.txt                  help text of \"Hide Cursor\" (same places)\n"
    "  okokok.ok                      allows a second copy to run (same places)\n"
    "  $KVR_STATE_DIR/eepdef.eep      first settings backup (usrdef.eep for later ones)\n",
    {{0, "the window was closed (\"Exit\", Ctrl+E, \"Release comport and Exit\", or the "
         "window's close button), or another copy is already running"},
     {2, "usage error: an argument the panel does not take (it takes none besides Qt's own)"}},
    {},
    true,
};

} // namespace

int main(int argc, char** argv) {
    if (const auto code = kvr::gui::beginProgram(argc, argv, kInfo)) return *code;
    QApplication app(argc, argv);
    // Qt took its own options out (-platform, -display, ...); anything left is a mistake.
    if (const QStringList rest = QApplication::arguments(); rest.size() > 1)
        return kvr::cli::usageError("tactivo", "unexpected argument '" +
                                                   kvr::cli::quoted(rest[1].toStdString()) + "'");
    QApplication::setApplicationName("tactivo");
    QGuiApplication::setDesktopFileName("tactivo");
    kvr::gui::installProgramHooks(app);
    // The window says when the program ends: once its exit sequence has run.
    QApplication::setQuitOnLastWindowClosed(false);
    kvr::gui::LibraryWorker worker; // closed (and joined) after the window is gone

    kvr::panel::FrmMain frmMain;
    if (!frmMain.Form_Load()) return 0; // another copy runs
    QObject::connect(&frmMain, &kvr::panel::FrmMain::terminated, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    frmMain.show();
    QTimer::singleShot(0, &frmMain, &kvr::panel::FrmMain::startUp);
    return QApplication::exec();
}
