// memtools_forms_bench: the memory tools' windows in this process (offscreen) with the
// program's library worker, against the real daemon and an emulated controller: the longest
// stalls of the event loop from the start to the end of a backup (nvbackup: search, reports
// suspended, settings record, 35 words read, the file written and flushed, reports resumed)
// and of a restore (nvrestore: the 35 words written, the settings record handed back), beside
// the same figures for an idle event loop on this machine. Not pass/fail.

#include "memtools/forms/backup_form.h"
#include "memtools/forms/restore_form.h"
#include "tests/bench/support/gui_stalls.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/qt_support.h"

#include <QPushButton>
#include <QRadioButton>
#include <chrono>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace kvr::test::tsapi {
namespace {

using Clock = std::chrono::steady_clock;

template <class Form> void measureForm(const char* program, const std::function<void(Form&)>& go) {
    Form form;
    bool ended = false;
    QObject::connect(&form, &Form::ended, [&](int) { ended = true; });
    bench::StallMeter meter;
    const auto start = Clock::now();
    meter.start();
    form.start();
    go(form);
    EXPECT_TRUE(waitForGui([&] { return ended; }, std::chrono::seconds(120)));
    meter.stop();
    meter.print(program, "start to end",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
}

TEST(MemtoolsFormsBench, EventLoopStallsOfBackupAndRestore) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("KVR_MESSAGE_ANSWERS", "yes", 1); // "Are you sure ??"
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_NE(bench.addSerial(0, 1), nullptr);
    kvr::bench::measureIdleBaseline("memtools_forms_bench", std::chrono::seconds(10));
    measureForm<memtools::forms::BackupForm>("nvbackup", [](auto&) {});
    measureForm<memtools::forms::RestoreForm>("nvrestore", [](memtools::forms::RestoreForm& f) {
        // The backup just made is the first one: "Install defaults"; started once the window
        // is up.
        waitForGui([&] { return f.isVisible(); });
        control<QRadioButton>(f, "optInstall")->click();
        control<QPushButton>(f, "cmdStart")->click();
    });
}

} // namespace
} // namespace kvr::test::tsapi
