#pragma once
// What every console program and script of the suite does on its command line:
//
//   exit 0   done
//   exit 1   it failed; one line on stderr says why ("<program>: <reason>")
//   exit 2   usage error: "<program>: <what is wrong>" and "Try '<program> --help'." on stderr
//   --help / -h   the usage on stdout, exit 0 (nothing else is done)
//   --version     "<program> <file version>" on stdout, from the binary's own version note
//
// Messages start with the program's name, never with the path it was started by, and quote
// user input cut to a readable length.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kvr::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The file version of the running program ("1.0.0.0") from its version note, or "unknown".
std::string ownVersion();
// "<program> <version>" on stdout; returns kExitOk.
int printVersion(std::string_view program);
// The usage error lines on stderr; returns kExitUsage.
int usageError(std::string_view program, std::string_view message);
// "<program>: <message>" on stderr; returns kExitFailure.
int failure(std::string_view program, std::string_view message);

// `text` as a message quotes it: control characters as \n, \t, \xHH, and anything longer than
// `max` characters cut, ending in "... (N characters)".
std::string quoted(std::string_view text, std::size_t max = 60);

// The "Exit status:" block of a --help text: the three codes above, then the `more` lines
// that are codes ("3  the store is unusable"), each indented as the others, and after a blank
// line the ones that are notes ("with 1 the message names the system error").
std::string exitStatusText(std::initializer_list<std::string_view> more = {});

// For programs without an option parser: true when argv[i] is "--help" or "-h", or
// "--version".
bool isHelp(std::string_view arg);
bool isVersion(std::string_view arg);

} // namespace kvr::cli
