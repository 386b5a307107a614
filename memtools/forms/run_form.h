#pragma once
// The main of a memory tool: the help options, the application with the programs' hooks and
// the library worker, the form started from the event loop, SIGTERM through the form's own
// close, and the form's exit code as the program's.

#include "gui/library_worker.h"
#include "gui/program.h"
#include "gui/terminate.h"

#include <QApplication>
#include <QTimer>

namespace kvr::memtools::forms {

template <class Form> int runForm(int argc, char** argv, const gui::ProgramInfo& info) {
    if (const auto done = gui::beginProgram(argc, argv, info)) return *done;
    QApplication app(argc, argv);
    QApplication::setApplicationName(
        QString::fromUtf8(info.name.data(), static_cast<int>(info.name.size())));
    // The form says when the program ends, and with what code.
    QApplication::setQuitOnLastWindowClosed(false);
    gui::installProgramHooks(app);
    gui::LibraryWorker worker; // closed after the form is gone
    Form form;
    gui::closeOnTerminate(&form);
    QObject::connect(&form, &Form::ended, &app, [](int code) { QCoreApplication::exit(code); });
    QTimer::singleShot(0, &form, &Form::start);
    return gui::exitStatus(QApplication::exec());
}

} // namespace kvr::memtools::forms
