#include "calibration/programs.h"

#include "gui/controller_trouble.h"
#include "gui/display_window.h"
#include "gui/library_worker.h"
#include "gui/single_instance.h"
#include "platform/common/paths.h"
#include "platform/desktop/message_box.h"
#include "tsapi/tsapi.h"

#include <QApplication>
#include <cstdio>
#include <string>

namespace kvr::calibration {
namespace {

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kCyan(0, 255, 255);

constexpr const char* kFormatErrorText = "message.txt format error";
constexpr const char* kFormatErrorCaption = "Error";

// The capture's library calls made on the program's library worker; the settle pause stays
// a wait of the window (its events go on).
CaptureCalls onWorker(CaptureCalls calls) {
    return {
        .arm = [arm = calls.arm](std::uint8_t target) { gui::libraryCall([&] { arm(target); }); },
        .captured =
            [captured = calls.captured](RawPoint& point) {
                return gui::libraryCall([&] { return captured(point); });
            },
        .penUp = [penUp = calls.penUp] { return gui::libraryCall([&] { return penUp(); }); },
        .settle = calls.settle,
    };
}

// A step of the program's session, made on the library worker.
template <class Step> std::function<void()> stepOnWorker(Step step) {
    return [step] { gui::libraryCall(step); };
}

WindowSetup commonSetup(const DisplayPlace& display, const MessageTable& messages,
                        CaptureCalls capture) {
    WindowSetup s;
    s.display = gui::displayRect(display.left, display.top, display.right, display.bottom);
    s.messages = messages;
    s.capture = onWorker(std::move(capture));
    return s;
}

// The device word the command line names ("RS232..." or "USB..."), for the driver to ask.
std::string_view controllerWord(std::string_view commandLine) {
    for (const std::string_view word :
         {std::string_view("RS232_DEVICE"), std::string_view("USB_DEVICE")})
        if (const auto at = commandLine.find(word); at != std::string_view::npos)
            return commandLine.substr(at);
    return {};
}

// The exits that mean the controller could not be found, opened or reached (the other exits
// of the start-up have their own reasons, which the help gives).
bool reachesController(int exitCode, std::string_view commandLine) {
    if (exitCode == kExitNoController)
        return !controllerWord(commandLine).empty() &&
               gui::libraryCall([] { return GetExistControllers(); }) == 0;
    return exitCode == kExitNotFound || exitCode == kExitOpenFailed || exitCode == kExitNoHandshake;
}

// The start-up both programs share around their session: one copy per window class, the
// message file, the session's own checks, then the window until it closes. The program's
// exit code (0, or a negative code).
template <class Session, class MakeSetup>
int runProgram(const char* className, const char* messageFile, MessageTable messages,
               std::string_view commandLine, MakeSetup makeSetup) {
    bool otherRunning = false;
    auto instance = gui::SingleInstance::acquire(className, &otherRunning);
    if (!instance && otherRunning) return kExitAlreadyRunning;
    if (!instance)
        std::fprintf(stderr, "%s: runtime folder unusable, running without the single-copy check\n",
                     className);

    if (readMessageFile(paths::findConfigFile(messageFile), messages) ==
        MessageFileStatus::FormatError) {
        desktop::messageBox(kFormatErrorText, kFormatErrorCaption, desktop::MB_OK);
        return kExitMessageFile;
    }

    auto opened = gui::libraryCall([&] { return Session::open(commandLine); });
    if (!opened.session) {
        if (reachesController(opened.exitCode, commandLine))
            gui::reportControllerTrouble(gui::controllerTroubleCause(controllerWord(commandLine)));
        return opened.exitCode;
    }
    {
        CalibrationWindow window(makeSetup(*opened.session, messages));
        window.start();
        // Attached once the window is up: a "destroy" or "bring to front" sent during the
        // start-up waited and acts on the shown window now.
        if (instance) instance->attach(&window);
        if (window.isVisible()) QApplication::exec();
    }
    // The session goes on the worker too (its clean-up calls the library).
    gui::libraryCall([session = std::move(opened.session)]() mutable { session.reset(); });
    return kExitNormal;
}

// The arguments are the controller's name (and linear's grid option), compared as they
// stand: Qt gets the program's name only, so it takes none of them for its own options.
template <class Run> int runWithQt(int argc, char** argv, Run run) {
    const std::string commandLine = gui::joinedArguments(argc, argv);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    gui::installProgramHooks(app);
    gui::LibraryWorker worker;
    return gui::exitStatus(run(commandLine));
}

} // namespace

const gui::ProgramInfo& threePointInfo() {
    static const gui::ProgramInfo info{
        "cal3pt",
        "cal3pt CONTROLLER",
        "Three-point calibration of a touch controller against the display it is bound to.\n"
        "CONTROLLER is the controller's name as the touch library lists it (RS232_DEVICE0,\n"
        "USB_DEVICE1, ...). Touch each flashing target until it turns yellow, then lift;\n"
        "after the third, touch the screen once more to store the calibration in the driver.\n"
        "Esc, or waiting out the countdown, leaves the calibration as it was.",
        "msg_3p_calib.txt   font scale and texts (current folder, then $KVR_CONFIG_DIR,\n"
        "                   default /etc/lumarcon)",
        {
            {kExitNormal, "ended normally (stored, cancelled or timed out)"},
            {kExitNoController, "the command line names no RS232_DEVICE or USB_DEVICE"},
            {kExitSettingsKey, "the controller's settings key has no readable BPX or BPY"},
            {kExitNotFound, "no controller present, or none has the given name"},
            {kExitOpenFailed, "the controller cannot be opened (is the driver running?)"},
            {kExitNoDisplay, "the controller is bound to no display"},
            {kExitMessageFile, "msg_3p_calib.txt has fewer than six texts"},
            {kExitAlreadyRunning, "cal3pt is running already (brought to the front)"},
        },
    };
    return info;
}

const gui::ProgramInfo& linearityInfo() {
    static const gui::ProgramInfo info{
        "linear",
        "linear CONTROLLER -5|-9",
        "Linearity calibration of a touch controller: five (-5) or nine (-9) targets over\n"
        "the display the controller is bound to. Touch each flashing target until it turns\n"
        "yellow, then lift; after the last, touch the screen once more to write the\n"
        "linearity table into the controller. The three-point calibration is reset to the\n"
        "base point for the measurement; it stays so once the table is written, and the\n"
        "calibration in force before comes back otherwise (Esc, countdown, a failure).",
        "msg_linear.txt     font scale and texts (current folder, then $KVR_CONFIG_DIR,\n"
        "                   default /etc/lumarcon)",
        {
            {kExitNormal, "ended normally (stored, cancelled or timed out)"},
            {kExitNoController, "no controller present, no -5/-9, or no RS232_DEVICE/USB_DEVICE"},
            {kExitNotFound, "no controller has the given name"},
            {kExitOpenFailed, "the controller cannot be opened (is the driver running?)"},
            {kExitNoDisplay, "the controller is bound to no display"},
            {kExitMessageFile, "msg_linear.txt has fewer than six texts"},
            {kExitNoHandshake, "the controller did not acknowledge \"CR\" in 10 attempts"},
            {kExitAlreadyRunning, "linear is running already (brought to the front)"},
        },
    };
    return info;
}

WindowSetup threePointWindowSetup(ThreePointSession& session, const MessageTable& messages) {
    WindowSetup s = commonSetup(session.display(), messages, session.captureCalls());
    s.className = kThreePointClass;
    s.accessibleName = QStringLiteral("Three-point calibration");
    s.textColours = {kWhite, kRed, kWhite, kRed, kRed, kCyan};
    const auto targets = session.targets();
    s.targets.assign(targets.begin(), targets.end());
    s.steps.captureDone = stepOnWorker([&session] { session.stopCapture(); });
    s.steps.save = [&session](const std::vector<RawPoint>& points) {
        return gui::libraryCall([&] { return session.save(points); });
    };
    s.steps.escape = stepOnWorker([&session] { session.stopCapture(); });
    s.steps.destroy = stepOnWorker([&session] { session.close(); });
    // A refused set leaves the old calibration in force; the user can simply try again.
    s.captureAgainAfterRefusedSave = true;
    s.keeperTimer = true;
    return s;
}

WindowSetup linearityWindowSetup(LinearitySession& session, const MessageTable& messages) {
    WindowSetup s = commonSetup(session.display(), messages, session.captureCalls());
    s.className = kLinearityClass;
    s.accessibleName = QStringLiteral("Linearity calibration");
    s.textColours = {kWhite, kWhite, kYellow, kRed, kRed, kCyan};
    s.targets = session.targets();
    s.steps.captureDone = stepOnWorker([&session] { session.captureDone(); });
    s.steps.save = [&session](const std::vector<RawPoint>&) {
        return gui::libraryCall([&] { return session.save(); });
    };
    s.steps.escape = stepOnWorker([&session] { session.escape(); });
    s.steps.destroy = stepOnWorker([&session] { session.close(); });
    s.captureAgainAfterRefusedSave = false;
    s.keeperTimer = false;
    return s;
}

int runThreePoint(int argc, char** argv) {
    if (const auto rc = gui::beginProgram(argc, argv, threePointInfo())) return *rc;
    return runWithQt(argc, argv, [](std::string_view commandLine) {
        return runProgram<ThreePointSession>(kThreePointClass, kThreePointMessageFile,
                                             threePointMessages(), commandLine,
                                             threePointWindowSetup);
    });
}

int runLinearity(int argc, char** argv) {
    if (const auto rc = gui::beginProgram(argc, argv, linearityInfo())) return *rc;
    return runWithQt(argc, argv, [](std::string_view commandLine) {
        return runProgram<LinearitySession>(kLinearityClass, kLinearityMessageFile,
                                            linearityMessages(), commandLine, linearityWindowSetup);
    });
}

} // namespace kvr::calibration
