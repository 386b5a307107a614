#include "utilities/autostart/autostart_filter.h"

#include "platform/desktop/spawn.h"

#include <algorithm>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvr::autostart {
namespace {

namespace fs = std::filesystem;

Verdict refuse(std::string reason) {
    return Verdict{false, {}, std::move(reason)};
}

// The startable program a bare name stands for ("rclick.EXE" -> "RClick"); empty for none.
std::string_view startableName(std::string_view name) {
    if (name.size() > 4 && ::strncasecmp(name.data() + name.size() - 4, ".exe", 4) == 0)
        name.remove_suffix(4);
    for (std::string_view program : kStartablePrograms)
        if (program.size() == name.size() &&
            ::strncasecmp(program.data(), name.data(), name.size()) == 0)
            return program;
    return {};
}

// Whether nobody but root or this user can have put or changed the file.
bool trustedFile(const fs::path& file, std::string& why) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IXUSR) == 0) {
        why = file.string() + " is not an installed program";
        return false;
    }
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        why = file.string() + " belongs to another user";
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = file.string() + " may be changed by others";
        return false;
    }
    return true;
}

} // namespace

Verdict judgeEntry(std::string_view commandLine, const fs::path& folder) {
    const std::vector<std::string> words = desktop::splitCommandLine(commandLine);
    if (words.empty()) return refuse("empty entry");
    if (words.size() > 1)
        return refuse("arguments are not accepted (the entry names a program only)");
    const std::string& word = words.front();
    const std::string_view name = startableName(fs::path(word).filename().string());
    if (name.empty()) return refuse("not one of the suite's desktop programs");

    std::error_code ec;
    const fs::path installed = fs::weakly_canonical(folder / std::string(name), ec);
    if (ec) return refuse("no program " + std::string(name) + " in " + folder.string());
    if (word.find('/') != std::string::npos) {
        if (!fs::path(word).is_absolute()) return refuse("a relative path is not accepted");
        // The path must lead to the installed program itself, not to a copy elsewhere (a
        // Windows-style "RClick.exe" names the program without the suffix).
        fs::path given(word);
        if (!fs::exists(given, ec) && given.extension() != "" &&
            ::strcasecmp(given.extension().c_str(), ".exe") == 0)
            given.replace_extension();
        const fs::path target = fs::weakly_canonical(given, ec);
        if (ec || target != installed)
            return refuse("not the installed program " + installed.string());
    }
    std::string why;
    if (!trustedFile(installed, why)) return refuse(why);
    return Verdict{true, installed, {}};
}

} // namespace kvr::autostart
