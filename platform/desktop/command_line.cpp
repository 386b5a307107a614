#include "platform/desktop/command_line.h"

#include "platform/desktop/version_note.h"

#include <cstdio>

namespace kvr::cli {

std::string ownVersion() {
    return desktop::readFileVersion("/proc/self/exe").value_or("unknown");
}

int printVersion(std::string_view program) {
    std::printf("%.*s %s\n", static_cast<int>(program.size()), program.data(),
                ownVersion().c_str());
    std::fflush(stdout);
    return kExitOk;
}

int usageError(std::string_view program, std::string_view message) {
    const int n = static_cast<int>(program.size());
    std::fprintf(stderr, "%.*s: %.*s\nTry '%.*s --help'.\n", n, program.data(),
                 static_cast<int>(message.size()), message.data(), n, program.data());
    return kExitUsage;
}

int failure(std::string_view program, std::string_view message) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(program.size()), program.data(),
                 static_cast<int>(message.size()), message.data());
    return kExitFailure;
}

std::string quoted(std::string_view text, std::size_t max) {
    std::string out;
    std::size_t shown = 0;
    for (const char c : text) {
        if (shown == max) {
            out += "... (" + std::to_string(text.size()) + " characters)";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
        ++shown;
    }
    return out;
}

std::string exitStatusText(std::initializer_list<std::string_view> more) {
    std::string text = "Exit status:\n"
                       "  0  done\n"
                       "  1  failed (the message says why)\n"
                       "  2  usage error (unknown option, missing or bad value)\n";
    std::string notes;
    for (auto line : more) {
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        // "3  meaning" is one more code; anything else is a note, set apart after the codes
        // (a manual page would otherwise read it as part of the last code's meaning).
        if (!line.empty() && line.front() >= '0' && line.front() <= '9' &&
            line.find("  ") != std::string_view::npos) {
            text += "  ";
            text += line;
            text += '\n';
        } else {
            notes += line;
            notes += '\n';
        }
    }
    if (!notes.empty()) text += "\n" + notes;
    return text;
}

bool isHelp(std::string_view arg) {
    return arg == "--help" || arg == "-h";
}

bool isVersion(std::string_view arg) {
    return arg == "--version";
}

} // namespace kvr::cli
