#include "tests/support/child_process.h"

#include "tests/support/test_env.h"

#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kvr::test {
namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program, std::vector<std::string> args,
                           bool inheritOutput) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!inheritOutput) {
        auto dir = makeTempDir("child");
        out_ = dir / "stdout";
        err_ = dir / "stderr";
        posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    std::string prog = program.string();
    argv.push_back(prog.data());
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, prog.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
}

ChildProcess::ChildProcess(ChildProcess&& o) noexcept
    : pid_(o.pid_), status_(o.status_), out_(std::move(o.out_)), err_(std::move(o.err_)) {
    o.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::running() {
    if (pid_ <= 0 || status_) return false;
    int st = 0;
    pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = st;
        return false;
    }
    return r == 0;
}

bool ChildProcess::signal(int sig) {
    return running() && ::kill(pid_, sig) == 0;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds deadline) {
    waitUntil([&] { return !running(); }, deadline, std::chrono::milliseconds(2));
    return status_;
}

std::optional<int> ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return std::nullopt;
    if (signal(SIGTERM)) wait(grace);
    if (running()) {
        ::kill(pid_, SIGKILL);
        int st = 0;
        if (::waitpid(pid_, &st, 0) == pid_) status_ = st;
    }
    return status_;
}

std::string ChildProcess::stdoutText() const {
    return out_.empty() ? "" : slurp(out_);
}
std::string ChildProcess::stderrText() const {
    return err_.empty() ? "" : slurp(err_);
}

RunResult runProgram(const std::filesystem::path& program, std::vector<std::string> args,
                     std::chrono::milliseconds deadline) {
    ChildProcess child(program, std::move(args));
    RunResult r;
    if (!child.started()) return r;
    auto st = child.wait(deadline);
    if (!st)
        child.stop();
    else if (WIFEXITED(*st))
        r.exitCode = WEXITSTATUS(*st);
    r.out = child.stdoutText();
    r.err = child.stderrText();
    return r;
}

} // namespace kvr::test
