#pragma once
// The command-line conventions of command_line.h for programs that parse with CLI11.
//
//   CLI::App app{"what it does"};
//   kvr::cli::prepare(app, "kvrsim", kvr::cli::exitStatusText());
//   ... options ...
//   if (auto code = kvr::cli::parse(app, argc, argv)) return *code;

#include "platform/desktop/command_line.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace kvr::cli {

// Names the program in its "Usage:" line (never the path it was started by), adds --version
// and puts the exit status block after the footer the program set.
inline void prepare(CLI::App& app, const std::string& program, const std::string& exitStatus) {
    app.name(program);
    app.set_version_flag(
        "--version", [program] { return program + " " + ownVersion(); },
        "print the version and exit");
    const std::string footer = app.get_footer();
    // A blank line sets the block apart (a manual page made from --help takes it as a section).
    app.footer(footer.empty() ? exitStatus : footer + "\n\n" + exitStatus);
}

// Parses the command line. Nothing when the program goes on; otherwise the exit code: 0 after
// --help or --version (printed on stdout), 2 after a usage error (printed on stderr).
inline std::optional<int> parse(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(app.get_name(), e.what());
    }
}

} // namespace kvr::cli
