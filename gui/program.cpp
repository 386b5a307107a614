#include "gui/program.h"

#include "gui/accessibility.h"
#include "gui/library_worker.h"
#include "gui/message_box.h"
#include "gui/window_system.h"
#include "platform/desktop/command_line.h"
#include "platform/desktop/message_box.h"
#include "platform/desktop/version_note.h"
#include "protocol/wait.h"

#include <QApplication>
#include <QThread>
#include <cstdio>
#include <cstring>

namespace kvr::gui {

std::string helpText(const ProgramInfo& info) {
    std::string text = "Usage: " + std::string(info.usage) + "\n\n" + std::string(info.summary);
    if (!text.ends_with('\n')) text += '\n';
    if (!info.files.empty()) {
        text += "\nFiles:\n" + std::string(info.files);
        if (!text.ends_with('\n')) text += '\n';
    }
    text += "\nExit status:\n";
    for (const ExitCode& e : info.exitCodes) {
        // "  226 (code -30)   meaning": the codes line up whatever their width.
        char code[32] = "";
        if (e.code < 0) std::snprintf(code, sizeof code, "(code %d)", e.code);
        char line[64];
        std::snprintf(line, sizeof line, "  %3d %-11s  ", exitStatus(e.code), code);
        text += line + std::string(e.meaning) + "\n";
    }
    // The statuses every windowed program has, unless the program lists its own meaning.
    const auto listed = [&info](int status) {
        for (const ExitCode& e : info.exitCodes)
            if (exitStatus(e.code) == status) return true;
        return false;
    };
    const ExitCode common[] = {
        {kStatusUsage, "usage error: an option the program does not know"},
        {kStatusNoDisplay, "the display cannot be opened (DISPLAY, WAYLAND_DISPLAY)"},
    };
    for (const ExitCode& e : common) {
        if (listed(e.code)) continue;
        char line[64];
        std::snprintf(line, sizeof line, "  %3d %-11s  ", e.code, "");
        text += line + std::string(e.meaning) + "\n";
    }
    text += "\n  --help     show this help and exit\n  --version  show the version and exit\n";
    return text;
}

namespace {

// Qt's own command-line options (either with one dash or two), and whether each takes a value
// in the next argument. Qt takes "NAME=value" only for the style options and the debugger.
struct QtOption {
    std::string_view name;
    bool takesValue;
    bool equalsForm = false;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"reverse", false},
    {"session", true},         {"display", true},
    {"geometry", true},        {"name", true},
    {"title", true},           {"visual", true},
    {"style", true, true},     {"stylesheet", true, true},
    {"widgetcount", false},    {"qmljsdebugger", false, true},
    {"nograb", false},         {"dograb", false},
    {"sync", false},
};

// The Qt option `arg` names ("-platform", "--style=x"), if any.
const QtOption* qtOption(std::string_view arg) {
    if (!arg.starts_with('-')) return nullptr;
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    const std::string_view name = arg.substr(0, arg.find('='));
    const bool equals = name.size() < arg.size();
    for (const QtOption& o : kQtOptions)
        if (o.name == name && (!equals || o.equalsForm)) return &o;
    return nullptr;
}

// The value of Qt's option `name` on the command line ("-platform xcb", "--platform=xcb").
std::string qtOptionValue(int argc, char** argv, std::string_view name) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        const QtOption* o = qtOption(arg);
        if (o == nullptr || o->name != name) continue;
        if (const auto eq = arg.find('='); eq != std::string_view::npos)
            return std::string(arg.substr(eq + 1));
        if (i + 1 < argc) return argv[i + 1];
    }
    return {};
}

} // namespace

std::optional<std::string> unknownLongOption(int argc, char** argv, const ProgramInfo& info) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (info.takesQtOptions) {
            if (const QtOption* o = qtOption(arg)) {
                if (o->takesValue && arg.find('=') == std::string_view::npos) ++i;
                continue;
            }
        }
        if (!arg.starts_with("--") || arg == "--help" || arg == "--version") continue;
        const std::string_view name = arg.substr(0, arg.find('='));
        bool known = false;
        for (const std::string_view option : info.longOptions)
            known = known || option == name;
        if (!known) return std::string(arg);
    }
    return std::nullopt;
}

std::optional<int> beginProgram(int argc, char** argv, const ProgramInfo& info) {
    if (const auto done = handleInfoOptions(argc, argv, info)) return done;
    const std::string name(info.name);
    if (const auto unknown = unknownLongOption(argc, argv, info)) {
        std::fprintf(stderr, "%s: unknown option '%s' (see %s --help)\n", name.c_str(),
                     cli::quoted(*unknown).c_str(), name.c_str());
        return kStatusUsage;
    }
    const WindowSystemTarget target =
        info.takesQtOptions ? windowSystemTarget(qtOptionValue(argc, argv, "platform"),
                                                 qtOptionValue(argc, argv, "display"))
                            : windowSystemTarget();
    if (const auto problem = displayProblem(target)) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), problem->c_str());
        return kStatusNoDisplay;
    }
    return std::nullopt;
}

std::optional<int> handleInfoOptions(int argc, char** argv, const ProgramInfo& info) {
    if (argc < 2) return std::nullopt;
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
        std::fputs(helpText(info).c_str(), stdout);
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        const auto version = desktop::readFileVersion("/proc/self/exe");
        std::printf("%.*s %s\n", static_cast<int>(info.name.size()), info.name.data(),
                    version ? version->c_str() : "(unknown version)");
        return 0;
    }
    return std::nullopt;
}

void installProgramHooks(QApplication& app) {
    desktop::setMessageBoxHook(
        [&app](std::string_view text, std::string_view caption, uint32_t type) {
            if (QThread::currentThread() == app.thread())
                return showMessageBox(text, caption, type);
            // A box the library raises on the worker is shown by the GUI thread.
            if (LibraryWorker* worker = LibraryWorker::ofThisThread())
                return worker->handOffMessageBox(std::string(text), std::string(caption), type);
            return desktop::defaultButtonResult(type); // no one to ask on any other thread
        });
    // The waits of the GUI thread keep the windows alive: they paint, and the program's other
    // controls stay usable (a busy flag guards what must not re-enter). On any other thread
    // (the library worker) a wait is a plain sleep.
    protocol::setEventPump([] { pumpEvents(false); });
    installAccessibility();
}

std::string joinedArguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

} // namespace kvr::gui
