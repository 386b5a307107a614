#pragma once
// A program started by a test, stopped (SIGTERM, then SIGKILL after a deadline) when the
// object goes away, so no daemon or emulator outlives its test.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kvr::test {

class ChildProcess {
public:
    // Starts `program` with `args` (argv[1..]). Its stdout and stderr go to files in a fresh
    // temporary folder (stdoutPath(), stderrPath()) unless `inheritOutput`.
    ChildProcess(const std::filesystem::path& program, std::vector<std::string> args,
                 bool inheritOutput = false);
    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    [[nodiscard]] pid_t pid() const { return pid_; }
    [[nodiscard]] bool started() const { return pid_ > 0; }
    // True while the process has not exited (reaps it when it has).
    bool running();
    // Sends a signal; false when the process is gone.
    bool signal(int sig);
    // SIGTERM, wait up to `grace`, then SIGKILL. Returns the wait status, if it was reaped.
    std::optional<int> stop(std::chrono::milliseconds grace = std::chrono::seconds(10));
    // Waits for the process to exit by itself; the wait status, or nothing on time-out.
    std::optional<int> wait(std::chrono::milliseconds deadline = std::chrono::seconds(20));

    [[nodiscard]] const std::filesystem::path& stdoutPath() const { return out_; }
    [[nodiscard]] const std::filesystem::path& stderrPath() const { return err_; }
    std::string stdoutText() const;
    std::string stderrText() const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path out_, err_;
};

// Runs a program to completion; returns its exit code (or -1) and its output.
struct RunResult {
    int exitCode = -1;
    std::string out, err;
};
RunResult runProgram(const std::filesystem::path& program, std::vector<std::string> args,
                     std::chrono::milliseconds deadline = std::chrono::seconds(60));

} // namespace kvr::test
