#include "platform/desktop/spawn.h"

#include "platform/common/log.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kvr::desktop {
namespace {

namespace fs = std::filesystem;

// Detached children not yet reaped. A fixed table of atomics: no lock, and no allocation
// in the library's callers. A child that finds the table full is left to the process's end.
constexpr std::size_t kMaxTracked = 64;
std::array<std::atomic<pid_t>, kMaxTracked> g_children{};

void track(pid_t pid) {
    for (auto& slot : g_children) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) return;
    }
    KVR_LOG_DEBUG("spawn: more than %zu children running; pid %d is not tracked", kMaxTracked,
                  static_cast<int>(pid));
}

bool lowerEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view dropExe(std::string_view name) {
    if (name.size() > 4 && lowerEquals(name.substr(name.size() - 4), ".exe")) name.remove_suffix(4);
    return name;
}

bool isExecutable(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

std::optional<fs::path> ownFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    return self.parent_path();
}

} // namespace

std::optional<fs::path> resolveProgram(std::string_view name) {
    try {
        if (name.empty()) return std::nullopt;
        if (name.find('/') != std::string_view::npos) {
            if (isExecutable(fs::path(name))) return fs::path(name);
            const std::string_view bare = dropExe(name);
            if (bare.size() != name.size() && isExecutable(fs::path(bare))) return fs::path(bare);
            return std::nullopt;
        }
        const auto dir = ownFolder();
        if (!dir) return std::nullopt;
        const std::string_view wanted = dropExe(name);
        if (isExecutable(*dir / wanted)) return *dir / wanted; // exact spelling first
        // Otherwise the first match without case, in name order so the choice is stable.
        std::vector<fs::path> matches;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(*dir, ec)) {
            const std::string file = e.path().filename().string();
            if (lowerEquals(file, wanted) && isExecutable(e.path())) matches.push_back(e.path());
        }
        if (matches.empty()) return std::nullopt;
        std::sort(matches.begin(), matches.end());
        return matches.front();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void reapDetachedChildren() {
    for (auto& slot : g_children) {
        pid_t pid = slot.load();
        if (pid <= 0) continue;
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) slot.compare_exchange_strong(pid, 0);
    }
}

std::optional<pid_t> startDetached(std::string_view program, const std::vector<std::string>& args) {
    reapDetachedChildren();
    try {
        const auto path = resolveProgram(program);
        if (!path) {
            KVR_LOG_WARN("cannot start %.*s: no such program", static_cast<int>(program.size()),
                         program.data());
            return std::nullopt;
        }
        std::string prog = path->string();
        std::vector<std::string> argStore;
        argStore.reserve(args.size() + 1);
        argStore.push_back(prog);
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t fa;
        posix_spawnattr_t attr;
        posix_spawn_file_actions_init(&fa);
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&fa, 3); // no inherited descriptors
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all); // nothing ignored that the caller ignored
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETSIGDEF);
        pid_t pid = -1;
        const int rc = ::posix_spawn(&pid, prog.c_str(), &fa, &attr, argv.data(), environ);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) {
            KVR_LOG_WARN("cannot start %s: %s", prog.c_str(), std::strerror(rc));
            return std::nullopt;
        }
        track(pid);
        return pid;
    } catch (const std::exception& e) {
        KVR_LOG_WARN("cannot start a program: %s", e.what());
        return std::nullopt;
    }
}

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            word += '"';
            inWord = true;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true; // "" is an empty word
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::optional<pid_t> startCommandLine(std::string_view commandLine) {
    try {
        auto words = splitCommandLine(commandLine);
        if (words.empty()) return std::nullopt;
        const std::string program = words.front();
        words.erase(words.begin());
        return startDetached(program, words);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace kvr::desktop
