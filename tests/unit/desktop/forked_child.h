#pragma once
// A forked copy of the test process running a function, with a pipe on which it reports
// (one byte per event) and a kill-and-reap on destruction.

#include <functional>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvr::test {

class ForkedChild {
public:
    // `body` gets the write end of the report pipe; the child ends with _exit(body's result).
    explicit ForkedChild(const std::function<int(int reportFd)>& body) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            ::_exit(body(fds[1]));
        }
        ::close(fds[1]);
        report_ = fds[0];
    }
    ~ForkedChild() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (report_ >= 0) ::close(report_);
    }
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    pid_t pid() const { return pid_; }
    // The next report byte, waiting up to 20 s; nothing when the child closed the pipe.
    std::optional<char> nextReport() {
        pollfd p{report_, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1) return std::nullopt;
        char c = 0;
        if (::read(report_, &c, 1) != 1) return std::nullopt;
        return c;
    }
    int wait() {
        if (!status_) {
            int st = 0;
            ::waitpid(pid_, &st, 0);
            status_ = st;
        }
        return *status_;
    }

private:
    pid_t pid_ = -1;
    int report_ = -1;
    std::optional<int> status_;
};

inline void report(int fd, char c) {
    [[maybe_unused]] auto n = ::write(fd, &c, 1);
}

} // namespace kvr::test
