// nvbackup, nvrestore and pinmap against the driver daemon and an emulated controller, with
// the message-box automation switch: nvbackup run as a program, unattended; nvrestore and
// pinmap driven in-process through their windows.

#include "gui/message_box.h"
#include "memtools/backup_file.h"
#include "memtools/forms/backup_form.h"
#include "memtools/forms/pinmap_form.h"
#include "memtools/forms/restore_form.h"
#include "memtools/image_transfer.h"
#include "memtools/settings_transfer.h"
#include "protocol/frame.h"
#include "tests/integration/memtools/memtools_bench.h"
#include "tests/support/qt_support.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

namespace kvr::test::tsapi {
namespace {

namespace fs = std::filesystem;
using memtools::ReadStatus;
using memtools::Setting;

void answerBoxes(const char* answers) {
    ::setenv("KVR_MESSAGE_ANSWERS", answers, 1);
    gui::resetAutomatedAnswers();
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// nvbackup run to its end, unattended. Its word reads have fixed waits and a failure limit:
// when a loaded machine delays replies past them, it gives up ("Error Reading!!!", status 5,
// no file), and it is run again, as a user would.
RunResult runBackup() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    answerBoxes("");
    RunResult r;
    for (int run = 0; run < 3; ++run) {
        r = runProgram(program("nvbackup"), {}, std::chrono::seconds(90));
        if (r.exitCode != memtools::forms::BackupForm::ReadFailed ||
            r.err.find("Error Reading!!!") == std::string::npos)
            break;
    }
    return r;
}

memtools::SettingsRecord librarySettings() {
    OpenedController c("RS232_DEVICE0");
    return memtools::fetchSettings(c.handle(), memtools::kBackupProgramRules);
}

TEST(Nvbackup, WritesTheControllerMemoryAndKeepsTheFirstBackup) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    const RunResult first = runBackup();
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const fs::path eep = stateDir() / "eepdef.eep";
    const auto backup = memtools::readBackupFile(eep);
    ASSERT_EQ(backup.status, ReadStatus::Ok) << backup.reason;
    for (int n = 1; n <= memtools::kImageWords; ++n) {
        const auto& w = backup.contents.image[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ((w.byte1 << 8) | w.byte2, imageWordValue(n)) << "word " << n;
    }
    const auto frames = b.sim().frameTexts();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), "MS") << "reports resumed at the end";
    EXPECT_EQ(backup.contents.record, librarySettings());

    // A second backup goes to usrdef.eep; the first one stays as it was.
    const std::string firstBytes = slurp(eep);
    {
        OpenedController c("RS232_DEVICE0");
        const std::uint8_t sp[] = {0x01, 'S', 'P', '8', '1', 'A', 'B', 'C', 'D', 0x0D};
        ASSERT_NE(WriteBuffer(c.handle(), sp, sizeof sp), 0);
        ASSERT_TRUE(waitUntil([&] { return b.word(0x81) == 0xABCD; }));
    }
    const RunResult second = runBackup();
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(slurp(eep), firstBytes);
    const auto user = memtools::readBackupFile(stateDir() / "usrdef.eep");
    ASSERT_EQ(user.status, ReadStatus::Ok) << user.reason;
    EXPECT_EQ(user.contents.image[0], (memtools::ImageWord{0xAB, 0xCD}));
}

TEST(Nvbackup, ControllerFallingSilentMidReadLeavesNoFileAndResumesReports) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    // An earlier first backup, which must survive.
    memtools::BackupContents earlier;
    ASSERT_TRUE(memtools::writeBackupFile(stateDir() / "eepdef.eep", earlier));
    const std::string earlierBytes = slurp(stateDir() / "eepdef.eep");

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    answerBoxes("");
    ChildProcess backup(program("nvbackup"), {});
    // (A loaded machine may make it give up before, with the same outcome.)
    ASSERT_TRUE(waitUntil([&] { return countFrames(b.sim(), "GP90") > 0 || !backup.running(); },
                          std::chrono::seconds(60)));
    ASSERT_TRUE(b.sim().play({"fault silence"}));
    const auto status = backup.wait(std::chrono::seconds(60));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(WEXITSTATUS(*status), memtools::forms::BackupForm::ReadFailed);
    EXPECT_NE(backup.stderrText().find("messagebox: nvbackup: Error Reading!!!"), std::string::npos)
        << backup.stderrText();
    EXPECT_FALSE(fs::exists(stateDir() / "usrdef.eep"));
    EXPECT_EQ(slurp(stateDir() / "eepdef.eep"), earlierBytes);
    EXPECT_EQ(b.sim().frameTexts().back(), "MS");
}

TEST(Nvbackup, NoControllerAndHelp) {
    MemtoolsBench b(false);
    ASSERT_TRUE(b.ok()) << b.why();
    const RunResult none = runBackup();
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("No device was found"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(stateDir() / "eepdef.eep"));

    for (const char* tool : {"nvbackup", "nvrestore", "pinmap"}) {
        const RunResult help = runProgram(program(tool), {"--help"});
        EXPECT_EQ(help.exitCode, 0) << tool;
        EXPECT_NE(help.out.find("Exit status:"), std::string::npos) << tool;
    }
}

// A click near the left end of a button, where radio buttons have their indicator.
void clickButton(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

// ---- nvrestore ---------------------------------------------------------------------------------

memtools::BackupContents restoreContents() {
    memtools::BackupContents c;
    for (int n = 1; n <= memtools::kImageWords; ++n)
        c.image[static_cast<std::size_t>(n - 1)] = {static_cast<std::uint8_t>(0x40 + n),
                                                    static_cast<std::uint8_t>(n)};
    const std::int64_t values[] = {2, 0, 0, 800, 1, 4, 3, 1, 1, 0, 2, 1500, 40};
    for (std::size_t i = 0; i < memtools::kSettingCount; ++i)
        c.record.setAt(i, values[i]);
    return c;
}

class RestoreRun {
public:
    RestoreRun() {
        QObject::connect(&form_, &memtools::forms::RestoreForm::ended,
                         [this](int code) { code_ = code; });
    }
    // Starts the window and waits until the reports are suspended.
    bool start(MemtoolsBench& b) {
        const std::size_t stops = countFrames(b.sim(), "MI");
        form_.start();
        return waitForGui([&] { return countFrames(b.sim(), "MI") > stops; });
    }
    // Starts the window and clicks `name` while the start-up suspends the reports (in the
    // wait after "MI").
    void startClicking(MemtoolsBench& b, const char* name) {
        const std::size_t stops = countFrames(b.sim(), "MI");
        QObject::connect(&early_, &QTimer::timeout, [this, &b, stops, name] {
            if (countFrames(b.sim(), "MI") == stops) return;
            early_.stop();
            click(name);
        });
        early_.start(5);
        form_.start();
    }
    void click(const char* name) { clickButton(form_.findChild<QAbstractButton*>(name)); }
    [[nodiscard]] int code() const { return code_; }
    memtools::forms::RestoreForm& form() { return form_; }

private:
    memtools::forms::RestoreForm form_;
    QTimer early_;
    int code_ = -1;
};

TEST(Nvrestore, WritesTheImageAndHandsTheSettingsBack) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    const auto contents = restoreContents();
    ASSERT_TRUE(memtools::writeBackupFile(stateDir() / "usrdef.eep", contents));
    answerBoxes("yes");
    RestoreRun run;
    ASSERT_TRUE(run.start(b));
    const std::size_t mark = b.mark();
    run.click("cmdStart");
    ASSERT_TRUE(waitForGui([&] { return run.form().hasEnded(); }, std::chrono::seconds(60)));
    EXPECT_EQ(run.code(), 0);

    EXPECT_EQ(b.sim().frameTexts().back(), "MS");
    // The image's words; "SP02" is the library's own, for the right click time.
    std::vector<std::string> sp;
    for (const auto& f : framesSince(b.sim(), mark))
        if (f.starts_with("SP") && !f.starts_with("SP02")) sp.push_back(f);
    // Word n is 0x40 + n, n; a word is written again when its acknowledgement came late.
    std::vector<std::string> words;
    for (int n = 1; n <= memtools::kImageWords; ++n)
        words.push_back("SP" + protocol::hexText(memtools::imageAddress(n)) +
                        protocol::hexText(static_cast<std::uint32_t>(0x40 + n)) +
                        protocol::hexText(static_cast<std::uint32_t>(n)));
    EXPECT_EQ(words.front(), "SP814101");
    EXPECT_TRUE(sameExchanges(sp, words, memtools::kWordTries));
    for (int n = 1; n <= memtools::kImageWords; ++n)
        EXPECT_EQ(b.word(memtools::imageAddress(n)), ((0x40 + n) << 8) | n) << n;
    const auto applied = librarySettings();
    for (const Setting s :
         {Setting::ReportMode, Setting::RightClickTime, Setting::RightClickEnabled,
          Setting::DoubleClickSpeed, Setting::DoubleClickArea, Setting::UpSound, Setting::DownSound,
          Setting::Rotation, Setting::BuzzerFreq, Setting::BuzzerDuration})
        EXPECT_EQ(applied.get(s), contents.record.get(s)) << memtools::settingName(s);
    EXPECT_EQ(applied.get(Setting::ReportStatus), 0) << "reports on after a restore";
}

TEST(Nvrestore, ALateAcknowledgementSendsNoWordTwice) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    ASSERT_TRUE(memtools::writeBackupFile(stateDir() / "usrdef.eep", restoreContents()));
    answerBoxes("yes");
    RestoreRun run;
    const std::size_t mark = b.mark();
    // Once the first word went out, the next reply comes well after the writer stops waiting.
    std::thread late([&] {
        if (b.sim().waitFrame("SP814101", 1, std::chrono::seconds(60)))
            b.sim().play({"fault late 600 1"});
    });
    // Start pressed during the start-up is carried out once the start-up ends.
    run.startClicking(b, "cmdStart");
    ASSERT_TRUE(waitForGui([&] { return run.form().hasEnded(); }, std::chrono::seconds(90)));
    late.join();
    EXPECT_EQ(run.code(), 0);
    std::map<std::string, int> sent;
    for (const auto& f : framesSince(b.sim(), mark))
        if (f.starts_with("SP") && !f.starts_with("SP02")) ++sent[f.substr(0, 4)];
    EXPECT_EQ(sent.size(), std::size_t(memtools::kImageWords));
    for (const auto& [word, times] : sent)
        EXPECT_EQ(times, 1) << word;
    for (int n = 1; n <= memtools::kImageWords; ++n)
        EXPECT_EQ(b.word(memtools::imageAddress(n)), ((0x40 + n) << 8) | n) << n;
}

TEST(Nvrestore, CancelDuringTheStartUpEndsOnceTheReportsAreSuspended) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    ASSERT_TRUE(memtools::writeBackupFile(stateDir() / "usrdef.eep", restoreContents()));
    RestoreRun run;
    const std::size_t mark = b.mark();
    run.startClicking(b, "cmdCancel");
    ASSERT_TRUE(waitForGui([&] { return run.form().hasEnded(); }, std::chrono::seconds(60)));
    EXPECT_EQ(run.code(), 1);
    const auto frames = framesSince(b.sim(), mark);
    EXPECT_EQ(frames.back(), "MS");
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                            [](const std::string& f) { return f.starts_with("SP"); }),
              0);
}

TEST(Nvrestore, DamagedMissingAndDeclinedChangeNothing) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    std::string damaged = memtools::formatBackupFile(restoreContents());
    damaged.replace(damaged.find(" 65 "), 4, " 300 "); // a byte out of range
    std::ofstream(stateDir() / "usrdef.eep", std::ios::binary) << damaged;
    const std::uint8_t rotation = [] {
        OpenedController c("RS232_DEVICE0");
        return GetRotation(c.handle());
    }();

    answerBoxes("ok,ok,no,no");
    RestoreRun run;
    ASSERT_TRUE(run.start(b));
    const std::size_t mark = b.mark();
    testing::internal::CaptureStderr();
    run.click("cmdStart"); // "File error!!"
    run.click("optInstall");
    run.click("cmdStart"); // "File not found!!"
    run.click("optUser");
    std::string mismatch = memtools::formatBackupFile(restoreContents());
    mismatch.replace(mismatch.find(" 65 "), 4, " 66 ");
    std::ofstream(stateDir() / "usrdef.eep", std::ios::binary) << mismatch;
    run.click("cmdStart"); // "File error!! Continue restore ?" -> No
    ASSERT_TRUE(memtools::writeBackupFile(stateDir() / "usrdef.eep", restoreContents()));
    run.click("cmdStart"); // "Are you sure ??" -> No
    const std::string boxes = testing::internal::GetCapturedStderr();
    for (const char* text :
         {"File error!!", "File not found!!", "File error!! Continue restore ?", "Are you sure ??"})
        EXPECT_NE(boxes.find(text), std::string::npos) << text << "\n" << boxes;
    EXPECT_FALSE(run.form().hasEnded());
    for (const auto& f : framesSince(b.sim(), mark))
        EXPECT_FALSE(f.starts_with("SP")) << f;
    {
        OpenedController c("RS232_DEVICE0");
        EXPECT_EQ(GetRotation(c.handle()), rotation) << "no settings handed over";
    }
    EXPECT_TRUE(run.form().findChild<QPushButton*>("cmdStart")->isVisible());

    run.click("cmdCancel");
    EXPECT_EQ(run.code(), 1);
    EXPECT_EQ(b.sim().frameTexts().back(), "MS");
}

// ---- pinmap ------------------------------------------------------------------------------------

class PinmapRun {
public:
    PinmapRun() {
        QObject::connect(&form_, &memtools::forms::PinmapForm::ended,
                         [this](int code) { code_ = code; });
        form_.start();
    }
    template <class W> W* get(const char* name) { return form_.findChild<W*>(name); }
    void click(const char* name) { QTest::mouseClick(get<QAbstractButton>(name), Qt::LeftButton); }
    void assign(const char* choice) {
        auto* combo = get<QComboBox>("Combo1");
        combo->setCurrentIndex(combo->findText(choice));
        click("cmdSet");
    }
    [[nodiscard]] int code() const { return code_; }
    memtools::forms::PinmapForm& form() { return form_; }

private:
    memtools::forms::PinmapForm form_;
    int code_ = -1;
};

TEST(Pinmap, WritesTheWiringCodeIntoWord9EAndRestoresDefaults) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    answerBoxes("yes,ok");
    PinmapRun run;
    // The keyboard walks the window top to bottom; the sensor kind is one stop (arrows
    // choose within it).
    EXPECT_EQ(tabChain(&run.form(), run.get<QWidget>("opt5Wire"), 4).join(' ').toStdString(),
              "opt5Wire Combo1 cmdSet cmdCancel");
    run.click("opt4Wire");
    run.assign("X-/UR");
    run.assign("X+/LL");
    EXPECT_EQ(run.get<QLabel>("lblPin")->text(), "Pin #3");
    run.assign("Y+/UL");
    run.assign("Y-/LR");
    EXPECT_TRUE(run.get<QPushButton>("cmdConfirm")->isEnabled());
    EXPECT_FALSE(run.get<QPushButton>("cmdSet")->isEnabled());
    auto* code = run.get<QLabel>("lblCode");
    EXPECT_TRUE(code->isHidden());
    QTest::keyClick(run.get<QComboBox>("Combo1"), Qt::Key_A);
    EXPECT_FALSE(code->isHidden());
    EXPECT_EQ(code->text(), "[5] XXYY");

    const std::size_t mark = b.mark();
    run.click("cmdConfirm");
    EXPECT_EQ(run.code(), 0);
    std::vector<std::string> frames;
    for (const auto& f : framesSince(b.sim(), mark))
        if (f != "MS" && f != "MP") frames.push_back(f);
    // 4C: bit 3 set, so 8 + 5 goes into the low digit.
    EXPECT_TRUE(sameExchanges(frames, {"GP9E", "SP9E104D", "SP9E104D", "RD"}));
    EXPECT_EQ(b.word(0x9E), 0x104D);
}

TEST(Pinmap, ARefusedWriteIsReported) {
    MemtoolsBench b;
    ASSERT_TRUE(b.ok()) << b.why();
    answerBoxes("yes,ok");
    PinmapRun run;
    for (const char* choice : {"Y+/UL", "X-/UR", "Y-/LR", "X+/LL"})
        run.assign(choice);
    // The driver goes away once the first write reached the controller: every later write
    // is refused by the library.
    std::thread stopper([&] {
        if (b.sim().waitFrame("SP9E1048", 1, std::chrono::seconds(30)))
            b.bench().serialDaemon()->process().stop();
    });
    testing::internal::CaptureStderr();
    run.click("cmdConfirm");
    const std::string boxes = testing::internal::GetCapturedStderr();
    stopper.join();
    EXPECT_EQ(run.code(), memtools::forms::PinmapForm::WriteError);
    // Not the text of a failed read: the write itself failed.
    EXPECT_NE(boxes.find(": Write failed!!"), std::string::npos) << boxes;
    EXPECT_EQ(boxes.find("Write EEP error!!"), std::string::npos) << boxes;
    EXPECT_EQ(boxes.find("Write OK"), std::string::npos) << boxes;
}

} // namespace
} // namespace kvr::test::tsapi
