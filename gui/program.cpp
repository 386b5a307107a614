#include "gui/program.h"

#include "gui/accessibility.h"
#include "gui/library_worker.h"
#include "gui/message_box.h"
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
    text += "\n  --help     show this help and exit\n  --version  show the version and exit\n";
    return text;
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
