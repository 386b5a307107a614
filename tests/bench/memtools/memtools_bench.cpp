// memtools_bench: how much a backup and a restore of the settings image cost above the waits
// the protocol prescribes (35 x 200 ms reading, 35 x 350 ms writing, and the "UT" before),
// and the longest time the program's event loop could not run meanwhile.
//
// Runs the real KvrRs232 daemon with an emulated controller on a pty, reads and writes the
// image through libtsapi as nvbackup and nvrestore do, with an event pump that notes when it
// runs (the waits run it about every 10 ms; between two runs the window cannot paint).
//
//   memtools_bench [--gtest_repeat=N]

#include "memtools/image_transfer.h"
#include "protocol/session.h"
#include "protocol/wait.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <vector>

namespace kvr::test::tsapi {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

// The event pump of the bench: records the gaps between its runs.
class StallMeter {
public:
    void start() {
        gaps_.clear();
        last_ = Clock::now();
        protocol::setEventPump([this] { tick(); });
    }
    void stop() {
        tick();
        protocol::setEventPump({});
        std::sort(gaps_.begin(), gaps_.end());
    }
    [[nodiscard]] Ms percentile(double p) const {
        if (gaps_.empty()) return Ms(0);
        return gaps_[std::min(gaps_.size() - 1, static_cast<std::size_t>(p * gaps_.size()))];
    }
    [[nodiscard]] Ms longest() const { return gaps_.empty() ? Ms(0) : gaps_.back(); }

private:
    void tick() {
        const auto now = Clock::now();
        gaps_.push_back(Ms(now - last_));
        last_ = now;
    }
    Clock::time_point last_;
    std::vector<Ms> gaps_;
};

void report(const char* what, Ms total, Ms waits, const StallMeter& stalls) {
    const double above = total.count() - waits.count();
    std::printf("%-8s total %8.1f ms  waits %8.1f ms  above the waits %5.1f ms (%.2f %%)  "
                "event-loop gaps: median %4.1f  p99 %4.1f  longest %4.1f ms\n",
                what, total.count(), waits.count(), above, 100.0 * above / total.count(),
                stalls.percentile(0.5).count(), stalls.percentile(0.99).count(),
                stalls.longest().count());
}

TEST(MemtoolsBench, BackupAndRestoreOfTheSettingsImage) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_NE(bench.addSerial(0, 1), nullptr);
    GetExistControllers();
    protocol::ControllerSession controller("RS232_DEVICE0");
    ASSERT_TRUE(controller.isOpen());

    StallMeter meter;
    meter.start();
    auto t0 = Clock::now();
    const auto read = memtools::readImage(controller);
    const Ms readTotal = Clock::now() - t0;
    meter.stop();
    ASSERT_TRUE(read.complete) << read.reason;
    report(
        "backup", readTotal,
        Ms(memtools::kUnitTypeWaitBeforeReadMs + memtools::kImageWords * memtools::kWordReadWaitMs),
        meter);

    meter.start();
    t0 = Clock::now();
    const auto written = memtools::writeImage(controller, read.image);
    const Ms writeTotal = Clock::now() - t0;
    meter.stop();
    ASSERT_TRUE(written.complete) << written.reason;
    report("restore", writeTotal,
           Ms(memtools::kUnitTypeWaitBeforeWriteMs +
              memtools::kImageWords * memtools::kWordWriteWaitMs),
           meter);
}

} // namespace
} // namespace kvr::test::tsapi
