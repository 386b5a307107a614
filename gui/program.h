#pragma once
// What every windowed program of the suite does around its window: the command-line options
// every program has (--help, --version), the process-wide hooks (message boxes, the event
// pump of the waits), and exit codes.
//
// Exit codes: the programs report why they stopped with small negative codes (-1, -30, ...);
// a process can only leave with 0..255, so code -n leaves as 256 - n (-1 -> 255, -30 -> 226).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QApplication;

namespace kvr::gui {

struct ExitCode {
    int code;                 // as the program uses it (0, -1, -30, ...)
    std::string_view meaning; // one line for --help
};

struct ProgramInfo {
    std::string_view name;    // "cal3pt"
    std::string_view usage;   // "cal3pt CONTROLLER"
    std::string_view summary; // what the program does, a few lines
    std::string_view files;   // the files it reads and writes, a few lines (may be empty)
    std::vector<ExitCode> exitCodes;
    // The long options ("--name") the program takes besides --help and --version; any other
    // argument that starts with "--" is a usage error.
    std::vector<std::string_view> longOptions = {};
    // The program hands its command line to Qt, so Qt's own options (-platform NAME,
    // -display NAME, --style NAME, ...) are known too, and -platform/-display choose the
    // display that is checked.
    bool takesQtOptions = false;
};

// Statuses every windowed program may leave with besides its own (--help lists them).
inline constexpr int kStatusUsage = 2;     // an option the program does not know
inline constexpr int kStatusNoDisplay = 8; // the display cannot be opened

// The process exit status for a program's code.
constexpr int exitStatus(int code) {
    return code & 0xFF;
}

// "--help"/"-h" prints the help (usage, summary, files, exit codes with their statuses) on
// stdout, "--version" the program's version; either returns 0 to exit with. Nothing when the
// first argument is neither: the command line belongs to the program.
std::optional<int> handleInfoOptions(int argc, char** argv, const ProgramInfo& info);

// What every windowed program does first, before it changes anything: handleInfoOptions; an
// unknown "--option" is a usage error ("PROGRAM: unknown option '--x' (see PROGRAM --help)",
// status kStatusUsage); then the display the program's window would go on must open (see
// window_system.h), else one line "PROGRAM: cannot open the display ..." and status
// kStatusNoDisplay. Nothing when the program goes on; otherwise the status to exit with.
std::optional<int> beginProgram(int argc, char** argv, const ProgramInfo& info);

// The unknown long option of a command line, if any (the first one).
std::optional<std::string> unknownLongOption(int argc, char** argv, const ProgramInfo& info);

// The help text handleInfoOptions prints.
std::string helpText(const ProgramInfo& info);

// Installs what every windowed program needs once its QApplication exists: the Qt message
// box (with the KVR_MESSAGE_ANSWERS automation switch) for every box of the process, shown
// by the GUI thread also when the library worker asks for it, and the event pump that keeps
// windows painting while the protocol's waits run on the GUI thread. Call once.
void installProgramHooks(QApplication& app);

// The program's arguments (argv[1..]) joined by single blanks: the "command line" the
// programs compare controller names with.
std::string joinedArguments(int argc, char** argv);

} // namespace kvr::gui
