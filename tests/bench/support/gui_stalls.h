#pragma once
// How long the GUI thread's event loop could not turn while a program works: a zero-interval
// timer fires at every turn, and each gap between two firings is a time the windows could not
// react. A loaded machine makes the thread wait for a CPU now and then, which no program can
// avoid; each gap is therefore also taken without that wait (the run delay the kernel counts
// in /proc/thread-self/schedstat), which is what the program itself stalled. For the longest
// such gap the thread's own CPU time tells whether it was working (painting, handling
// events) or blocked (a wait, a system call).
//
// Only running figures are kept (no list of gaps): growing a list would itself stall the loop.

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>

namespace kvr::bench {

class StallMeter {
public:
    StallMeter() {
        turn_.setInterval(0);
        QObject::connect(&turn_, &QTimer::timeout, [this] { note(); });
    }
    void start() {
        figures_ = {};
        last_ = Clock::now();
        lastSched_ = schedstat();
        turn_.start();
    }
    void stop() {
        note();
        turn_.stop();
    }

    void print(const char* program, const char* what, double workMs) const {
        const Figures& f = figures_;
        std::printf("%s: %s: %.0f ms of work; longest event-loop stall %.1f ms, %.1f ms without "
                    "waits for a CPU (of which %.1f ms the thread's own work); %zu of %zu turns "
                    "over 20 ms (%zu without waits); goal < 20 ms\n",
                    program, what, workMs, f.longest, f.longestOwn, f.cpuInLongestOwn, f.over20,
                    f.turns, f.over20Own);
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Figures {
        double longest = 0, longestOwn = 0, cpuInLongestOwn = 0;
        std::size_t turns = 0, over20 = 0, over20Own = 0;
    };
    // Nanoseconds this thread has run, and waited on a run queue, so far.
    struct Sched {
        double cpu = 0, delay = 0;
    };
    static Sched schedstat() {
        std::ifstream in("/proc/thread-self/schedstat");
        Sched s;
        in >> s.cpu >> s.delay;
        return s;
    }
    void note() {
        const auto now = Clock::now();
        const Sched sched = schedstat();
        const double gap = std::chrono::duration<double, std::milli>(now - last_).count();
        const double own = std::max(0.0, gap - (sched.delay - lastSched_.delay) / 1e6);
        Figures& f = figures_;
        ++f.turns;
        f.longest = std::max(f.longest, gap);
        if (own > f.longestOwn) {
            f.longestOwn = own;
            f.cpuInLongestOwn = (sched.cpu - lastSched_.cpu) / 1e6;
        }
        f.over20 += gap > 20 ? 1 : 0;
        f.over20Own += own > 20 ? 1 : 0;
        last_ = now;
        lastSched_ = sched;
    }

    QTimer turn_;
    Clock::time_point last_;
    Sched lastSched_;
    Figures figures_;
};

// Measures `work` (run on the GUI thread; it waits for the library worker by processing
// events) and prints its figures.
inline void measureStalls(const char* program, const char* what,
                          const std::function<void()>& work) {
    StallMeter meter;
    const auto start = std::chrono::steady_clock::now();
    meter.start();
    work();
    meter.stop();
    meter.print(program, what,
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
}

// The same figures for an event loop with nothing to do, for as long: what the machine itself
// does to a turning event loop at the moment (other processes, a virtual CPU not running).
inline void measureIdleBaseline(const char* program, std::chrono::milliseconds duration) {
    measureStalls(program, "an idle event loop (baseline)", [duration] {
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    });
}

} // namespace kvr::bench
