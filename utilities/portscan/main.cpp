// portscan: finds the serial ports that touch controllers are attached to and hands them to
// the serial touch driver. Releases the controllers the driver serves, probes every listed
// port (COM1 to COM8) and connects the controllers found; shows the progress in a small
// window. "-u" closes the window when the scan is done (unattended installs).

#include "gui/controller_trouble.h"
#include "gui/program.h"
#include "gui/terminate.h"
#include "gui/window_system.h"
#include "platform/desktop/atoms.h"
#include "platform/desktop/windows.h"
#include "utilities/portscan/port_list.h"
#include "utilities/portscan/report_text.h"
#include "utilities/portscan/scan_window.h"
#include "utilities/portscan/scanner.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

const kvr::gui::ProgramInfo kInfo{
    "portscan",
    "portscan [-u]",
    "Finds the serial ports touch controllers are attached to and hands them to the serial\n"
    "touch driver (KvrRs232): releases the controllers the driver serves, probes each port\n"
    "of the serial port map (COM1 to COM8; numbers as README \"Serial port numbers\" says)\n"
    "with the reset command, and for each port that answers (up to 4) writes COMPORT of the\n"
    "next driver device key and asks the driver to connect it. Ports another program holds\n"
    "are not probed. Progress and the result are shown in a small window.\n"
    "\n"
    "  -u   close the window when the scan is done, and print the result on standard\n"
    "       output (unattended installs); without a window system the scan always runs\n"
    "       this way\n"
    "\n"
    "Only the driver of this suite is served; the legacy Windows 95/98/Me driver path\n"
    "(\\\\.\\KVR232.VXD, one controller) is left out.",
    "",
    {{0, "the window was closed (after the scan, or during it: the scan is stopped)"},
     {-1, "another portscan is running, or the serial port map lists no port COM1..COM8"}},
    {},
    true,
};

constexpr int kExitNotScanned = -1;
constexpr std::chrono::milliseconds kMapValuePause{100};

} // namespace

int main(int argc, char** argv) {
    // Without any window system the scan runs unattended on Qt's offscreen platform; with
    // one named, its display must open before the markers are touched.
    const bool headless = !kvr::gui::windowSystemAvailable();
    if (headless) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (auto code = kvr::gui::beginProgram(argc, argv, kInfo)) return *code;

    // One running copy at a time; the atom goes when this process ends.
    kvr::desktop::AtomAddResult added = kvr::desktop::AtomAddResult::Failed;
    auto atom = kvr::desktop::GlobalAtom::add("portscan", &added);
    if (added == kvr::desktop::AtomAddResult::HeldElsewhere) {
        std::fprintf(stderr, "portscan: another copy is running\n");
        return kvr::gui::exitStatus(kExitNotScanned);
    }
    const bool autoClose = kvr::gui::joinedArguments(argc, argv) == "-u" || headless;

    auto ports = kvr::portscan::readPortList([] { std::this_thread::sleep_for(kMapValuePause); });
    if (!ports || ports->empty()) {
        std::fprintf(stderr, "portscan: no serial port COM1..COM8 is listed\n");
        return kvr::gui::exitStatus(kExitNotScanned);
    }
    // The ports found are handed to the driver; without it they are only written to its
    // settings, which the user should know.
    if (const auto driver = kvr::gui::findControllerTrouble("RS232");
        driver.kind != kvr::gui::ControllerTrouble::NoAnswer)
        std::fprintf(stderr, "portscan: %s (the ports found are only written to its settings)\n",
                     driver.text.c_str());
    kvr::portscan::deleteConnectMarkers();

    // SIGTERM closes the window like its close box: the scan is stopped cleanly.
    kvr::desktop::windowMessageFd();
    QApplication app(argc, argv);
    kvr::gui::installProgramHooks(app);

    kvr::portscan::ScanWindow window(kvr::portscan::initialText(*ports));
    kvr::portscan::ScanThread scan(std::move(*ports));
    QObject::connect(&scan, &kvr::portscan::ScanThread::reportChanged, &window,
                     &kvr::portscan::ScanWindow::setReport, Qt::QueuedConnection);
    if (autoClose)
        QObject::connect(&scan, &kvr::portscan::ScanThread::finished, &window, &QWidget::close,
                         Qt::QueuedConnection);
    kvr::gui::closeOnTerminate(&window);
    window.show();
    scan.start();
    const int code = app.exec();
    scan.stop();
    if (autoClose) std::fputs(scan.finalReport().c_str(), stdout);
    return code;
}
