// The main of the tests of windowed programs: a QApplication on the offscreen platform
// (unless the caller chose one, e.g. xcb under Xvfb) with the programs' hooks installed and
// a library worker, as every windowed program has, then every test with its private folders.

#include "gui/library_worker.h"
#include "gui/program.h"
#include "tests/support/test_env.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    kvr::gui::installProgramHooks(app);
    kvr::gui::LibraryWorker worker;
    return kvr::test::runAllTests(argc, argv);
}
