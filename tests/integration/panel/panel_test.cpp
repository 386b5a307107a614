// The control panel against the driver daemon and an emulated controller: the start-up's
// frames and first backup, the firmware page's clamps and enables, the "Advance" writes, the
// sensitivity retries, reset and defaults, the exits, and the companion programs' command
// lines (stub programs that record their arguments).

#include "panel/frm_main.h"
#include "panel/sequences.h"
#include "panel/text_file.h"
#include "tests/integration/memtools/first_backup.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/qt_support.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace kvr::test::panel {
namespace {

using kvr::panel::FrmMain;
using kvr::panel::Session;
using kvr::test::control;
using tsapi::Bench;
using tsapi::framesSince;
using tsapi::sameExchanges;
using tsapi::Sim;
using Frames = std::vector<std::string>;

// True when `expected` appears in `frames` in this order (other frames may come between).
::testing::AssertionResult inOrder(const Frames& frames, const Frames& expected) {
    std::size_t at = 0;
    for (const auto& f : frames)
        if (at < expected.size() && f == expected[at]) ++at;
    if (at == expected.size()) return ::testing::AssertionSuccess();
    std::string seen;
    for (const auto& f : frames)
        seen += f + " ";
    return ::testing::AssertionFailure() << "missing \"" << expected[at] << "\" in: " << seen;
}

std::size_t count(const Frames& frames, const std::string& text) {
    return static_cast<std::size_t>(std::count(frames.begin(), frames.end(), text));
}

// One daemon and one emulated controller on COM1 (serial unit 0); message boxes answered
// from `answers` and written to stderr; an empty configuration folder.
class PanelBench {
public:
    explicit PanelBench(emu::ControllerProfile profile = Sim::defaultProfile(),
                        const char* answers = "") {
        ::setenv("KVR_MESSAGE_ANSWERS", answers, 1);
        ::setenv("KVR_CONFIG_DIR", makeTempDir("config").c_str(), 1);
        if (bench_.ready()) sim_ = bench_.addSerial(0, 1, std::move(profile));
    }
    [[nodiscard]] bool ok() const { return sim_ != nullptr; }
    [[nodiscard]] std::string why() const { return bench_.diagnostics(); }
    Sim& sim() { return *sim_; }
    Bench& bench() { return bench_; }
    std::size_t mark() const { return sim_->frameTexts().size(); }
    Frames since(std::size_t from) const { return framesSince(*sim_, from); }
    // The window after Form_Load and the controller list (RS232_DEVICE0 selected).
    std::unique_ptr<FrmMain> window() {
        auto frm = std::make_unique<FrmMain>();
        if (!frm->Form_Load()) return nullptr;
        frm->getctrname();
        return frm;
    }

private:
    Bench bench_;
    Sim* sim_ = nullptr;
};

#define START_BENCH(b, ...)                                                                        \
    PanelBench b{__VA_ARGS__};                                                                     \
    ASSERT_TRUE(b.ok()) << b.why()

Session selected() {
    GetExistControllers();
    Session s;
    s.selectedName = "RS232_DEVICE0";
    return s;
}

// Sets a word of the emulated controller through the library, as any program would.
void setWord(const std::string& address, const std::string& hex4) {
    Session s = selected();
    kvr::panel::ControllerLink link(s);
    link.exchangeSetParameter(address, hex4.substr(0, 2), hex4.substr(2, 2), 60, 10,
                              kvr::panel::Flush::None);
}

// Runs `attempt` until `done` holds, three times at most. The panel's pages read each word
// once with a fixed wait: a reply that a loaded machine delays past it leaves that row as it
// was (or, for the extension level, skips the rows that depend on it), and the user opens the
// page, or confirms, again.
template <typename Attempt, typename Done> void untilDone(Attempt attempt, Done done) {
    for (int run = 0; run < 3; ++run) {
        attempt();
        if (done()) return;
    }
}

// ---- start-up ----------------------------------------------------------------------------------

class PanelStartUp : public ::testing::TestWithParam<std::string> {};

TEST_P(PanelStartUp, FramesInOrderAndTheAdvanceTabByUnitType) {
    const bool family = GetParam() == "nvlt3000";
    START_BENCH(b, Sim::profile(GetParam()));
    const std::size_t from = b.mark();
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    frm.show();
    frm.startUp();
    ASSERT_TRUE(frm.startUpDone());
    const bool readyAtOnce = frm.ready();
    // The first-start backup gives up ("Error Reading!!!", no file) when a loaded machine
    // delays replies past its waits: it is taken again, as from the "Tools" page.
    for (int run = 0; run < 2 && !std::filesystem::exists(stateDir() / "eepdef.eep"); ++run)
        frm.rdeep(false);

    Frames expected = {"UT", "GP9E", "GP02", "OI", "OI", "MI", "UT"};
    if (family)
        expected.insert(expected.end(), {"GP01", "GP03", "GP9C", "GP05", "ii", "GP9F", "GP98"});
    const Frames frames = b.since(from);
    // Then the first-start backup: the settings image, word by word.
    expected.insert(expected.end(), {"UT", "GP81", "GP82", "GPA3"});
    EXPECT_TRUE(inOrder(frames, expected));
    EXPECT_EQ(count(frames, "GP01"), family ? 1u : 0u);
    const auto lines = kvr::panel::readTextLines(stateDir() / "eepdef.eep");
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 51u);
    EXPECT_EQ((*lines)[1], " 10  50 ") << "word 81 = 0x0A32";
    EXPECT_EQ((*lines)[48], " 10 ") << "no duration stored yet: the panel's own fallback";
    EXPECT_EQ(count(frames, "SE1"), 0u) << "nothing is sent while starting";
    EXPECT_EQ(control<QTabWidget>(frm, "SSTab1")->isTabEnabled(kvr::panel::Tab::Advance), family);
    const auto* grid = control<QTableWidget>(frm, "Grid1");
    EXPECT_EQ(grid->item(0, 1)->text(), "RS232_DEVICE0");
    EXPECT_EQ(grid->item(0, 2)->text(), "No. #1");
    EXPECT_EQ(control<QLineEdit>(frm, "Text1")->text(), "RS232_DEVICE0");
    EXPECT_TRUE(frm.windowTitle().endsWith("[ Version :  3.2.0 -11]  "));
    EXPECT_FALSE(readyAtOnce);
    EXPECT_TRUE(waitForGui([&] { return frm.ready(); }));
    if (family) {
        EXPECT_EQ(control<QLabel>(frm, "HScra1Value")->text(), "20");
        EXPECT_EQ(control<QLabel>(frm, "HScroll4Value")->text(), "50");
        const auto* accBox = control<QCheckBox>(frm, "chkAccLevel");
        EXPECT_TRUE(!accBox->isHidden() && accBox->isChecked());
    }

    // Leaving with nothing changed sends nothing.
    QSignalSpy ended(&frm, &FrmMain::terminated);
    const std::size_t beforeExit = b.mark();
    QTest::keyClick(&frm, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(ended.count(), 1);
    pumpGui(std::chrono::milliseconds(100));
    EXPECT_TRUE(b.since(beforeExit).empty());
}

INSTANTIATE_TEST_SUITE_P(Profiles, PanelStartUp, ::testing::Values("nvlt3000", "legacy"));

TEST(PanelBackup, ABadReplyIsAskedAgainAndASilentControllerGetsNoFile) {
    START_BENCH(b, Sim::defaultProfile(), "ok");
    auto frm = b.window();
    ASSERT_TRUE(frm);
    // The reply for the word at 83 comes cut to 5 bytes once, between good ones. (Replies that
    // come later than the 200 ms wait count as bad ones too: when a loaded machine makes the
    // read give up, the backup is taken again, as a user would.)
    std::optional<std::vector<std::string>> lines;
    Frames frames;
    for (int run = 0; run < 3 && !lines; ++run) {
        ASSERT_TRUE(b.sim().play({"fault clear"}));
        const std::size_t from = b.mark();
        QTimer cutter;
        bool cut = false;
        QObject::connect(&cutter, &QTimer::timeout, [&] {
            if (!cut && count(b.since(from), "GP82") > 0) cut = b.sim().play({"fault cut 5 1"});
        });
        cutter.start(2);
        frm->rdeep(false);
        frames = b.since(from);
        if (cut) lines = kvr::panel::readTextLines(stateDir() / "eepdef.eep");
    }
    EXPECT_GE(count(frames, "GP83"), 2u);
    EXPECT_LE(count(frames, "GP83"), 3u) << "three tries for a word";
    ASSERT_TRUE(lines && lines->size() == 51u);
    EXPECT_EQ((*lines)[3], " 15  15 ") << "word 83 as the controller holds it, not 0 0";

    std::filesystem::remove(stateDir() / "eepdef.eep");
    ASSERT_TRUE(b.sim().play({"fault silence"}));
    testing::internal::CaptureStderr();
    frm->rdeep(false);
    const std::string silent = testing::internal::GetCapturedStderr();
    // The driver runs, the controller went quiet: said on stderr and under the box's text.
    EXPECT_NE(silent.find("panel_test: no controller answered\n"), std::string::npos) << silent;
    EXPECT_NE(silent.find("messagebox: : Error Reading!!!\\nno controller answered\n"),
              std::string::npos)
        << silent;
    EXPECT_FALSE(std::filesystem::exists(stateDir() / "eepdef.eep"));
}

// ---- firmware page and "Advance" writes ---------------------------------------------------------

TEST(PanelFirmwarePage, ClampsEnablesAndWritesBack) {
    START_BENCH(b);
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> words; // address, word
        std::uint32_t firmware;
        int measTime, noise, acc; // acc/noise -1: disabled, empty
        bool ii;                  // "ii" sent
        bool boxes;               // enable boxes shown
    };
    const std::vector<Case> cases = {
        {"meas. time above its range", {{"01", "C803"}}, 32110, 100, 50, 250, true, true},
        {"meas. time below its range", {{"01", "0203"}}, 32110, 5, 50, 250, true, true},
        {"firmware one below 32110", {{"01", "1403"}}, 32109, 20, -1, -1, false, false},
        {"9F bytes 0x14 and 0xFB", {{"9F", "14FB"}}, 32110, 20, 20, -1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [address, word] : c.words)
            setWord(address, word);
        Session s = selected();
        std::vector<int> levels;
        kvr::panel::FirmwarePage page;
        Frames frames;
        untilDone(
            [&] {
                levels.clear();
                const std::size_t from = b.mark();
                page = kvr::panel::readFirmwarePage(s, c.firmware, 1,
                                                    [&](int l) { levels.push_back(l); });
                frames = b.since(from);
            },
            [&] {
                return page.recognised && page.measTime == c.measTime &&
                       page.noiseLevel.value_or(-1) == c.noise &&
                       page.accLevel.value_or(-1) == c.acc &&
                       page.enableBoxes.has_value() == c.boxes && levels == std::vector<int>{1};
            });
        ASSERT_TRUE(page.recognised);
        EXPECT_EQ(page.measTime, c.measTime);
        EXPECT_EQ(page.noiseLevel.value_or(-1), c.noise);
        EXPECT_EQ(page.accLevel.value_or(-1), c.acc);
        EXPECT_EQ(count(frames, "ii") == 1, c.ii);
        EXPECT_EQ(page.enableBoxes.has_value(), c.boxes);
        EXPECT_EQ(levels, std::vector<int>{1});
    }

    // A level 5 in 9C is not a list position: nothing is chosen.
    setWord("9C", "0580");
    Session s = selected();
    bool chosen = false;
    kvr::panel::readFirmwarePage(s, 32110, 1, [&](int) { chosen = true; });
    EXPECT_FALSE(chosen);

    // "Confirm" after 9F 0x14 0xFB: no "SP9F" (the acceleration label is empty); address 98's
    // second byte 0xF2 with only the A.D.N.L. box ticked is written back as 0xF1.
    setWord("98", "07F2");
    kvr::panel::AdvanceValues v{100, 3, 250, 250, 20, std::nullopt, "00", "00", false, true, 32110};
    const Frames written = {"SP016403", "SP0300FA", "SP0500FA", "SP016403",
                            "ii",       "GP98",     "SP9807F1"};
    Frames frames;
    untilDone(
        [&] {
            const std::size_t from = b.mark();
            kvr::panel::writeAdvancePage(s, v);
            frames = b.since(from);
        },
        [&] { return frames == written; });
    EXPECT_EQ(frames, written);
    EXPECT_TRUE(s.settingsChanged);
    EXPECT_NE(s.lastWriteStatus, 0);

    // A kept byte never read leaves its frame empty: nothing goes out for that address.
    v.kept03.clear();
    v.firmwareNumber = 0;
    const std::size_t from2 = b.mark();
    kvr::panel::writeAdvancePage(s, v);
    EXPECT_EQ(b.since(from2), (Frames{"SP016403", "SP0500FA", "SP016403"}));
}

TEST(PanelFirmwarePage, OtherUnitTypeReadsNoParameter) {
    START_BENCH(b, Sim::profile("legacy"));
    Session s = selected();
    const std::size_t from = b.mark();
    const auto page = kvr::panel::readFirmwarePage(s, 32110, 1, {});
    EXPECT_FALSE(page.recognised);
    EXPECT_TRUE(sameExchanges(b.since(from), {"MI", "UT", "MS", "PL"}));
}

// ---- sensitivity
// ---------------------------------------------------------------------------------

TEST(PanelSensitivity, RetriesUntilAcknowledgedAndGivesUpAfterTen) {
    START_BENCH(b);
    // Replies come 30 ms late, as from a controller on a 9600-baud line: the flush that
    // follows each write does not catch them.
    ASSERT_TRUE(b.sim().play({"fault late 30", "fault nak 3"}));
    Session s = selected();
    std::size_t from = b.mark();
    EXPECT_TRUE(kvr::panel::sendSensitivity(s, 3));
    // "SE", then "SP" in each attempt; the fourth reply is the first acknowledgement, so two
    // attempts (more when a loaded machine makes a reply miss its wait).
    const Frames got = b.since(from);
    EXPECT_GE(got.size(), 4u);
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], i % 2 == 0 ? "SE3" : "SP9C0380") << i;
    EXPECT_TRUE(s.settingsChanged);

    ASSERT_TRUE(b.sim().play({"fault nak"}));
    from = b.mark();
    EXPECT_FALSE(kvr::panel::sendSensitivity(s, 2));
    EXPECT_EQ(count(b.since(from), "SE2"), 10u);
    EXPECT_EQ(count(b.since(from), "SP9C0280"), 10u);
}

// ---- tools and exits
// ------------------------------------------------------------------------------

TEST(PanelTools, ResetAndDefaultsReportByMessage) {
    START_BENCH(b, Sim::defaultProfile(), "ok,ok,ok");
    auto frm = b.window();
    ASSERT_TRUE(frm);
    // Whether a click shows the message box `box`.
    const auto shows = [&](void (FrmMain::*click)(), const std::string& box) {
        testing::internal::CaptureStderr();
        (frm.get()->*click)();
        return testing::internal::GetCapturedStderr().find(box) != std::string::npos;
    };
    std::size_t from = b.mark();
    ASSERT_TRUE(b.sim().play({"fault silence 2"}));
    EXPECT_TRUE(
        shows(&FrmMain::Command3_Click, "messagebox: Reset Function: Controll Reset Error\n"));
    EXPECT_EQ(count(b.since(from), "R"), 2u) << "one repetition";
    // A reply later than the 300 ms wait (a loaded machine; or the acknowledgements of the
    // report mode the driver sends when the controller has restarted) fails a click as well,
    // and the user clicks again.
    const auto clickUntil = [&](void (FrmMain::*click)(), const std::string& box) {
        for (int i = 0; i < 5; ++i)
            if (shows(click, box)) return true;
        return false;
    };
    EXPECT_TRUE(
        clickUntil(&FrmMain::Command3_Click, "messagebox: Reset Function: Controller Reset OK\n"));
    EXPECT_TRUE(clickUntil(&FrmMain::Command2_Click,
                           "messagebox: Reset Function: Controller Restore OK\n"));

    // A changed setting makes the exit ask "Uu" and store with "PL" twice.
    kvr::panel::sendSensitivity(const_cast<Session&>(frm->session()), 1);
    from = b.mark();
    QSignalSpy ended(frm.get(), &FrmMain::terminated);
    QTest::mouseClick(control<QPushButton>(*frm, "cmdExit"), Qt::LeftButton);
    EXPECT_EQ(ended.count(), 1);
    Frames exit = b.since(from);
    std::erase(exit, "MS"); // the driver's, when the controller restarts after "RD"
    EXPECT_EQ(exit, (Frames{"Uu", "PL", "PL"}));
}

TEST(PanelTools, CompanionProgramsStartBesideThePanel) {
    START_BENCH(b, Sim::defaultProfile(), "ok");
    const auto folder = makeTempDir("companions");
    const auto log = folder / "started.log";
    for (const char* name : {"cal3pt", "linear", "sketch", "nvbackup"}) {
        const auto path = folder / name;
        std::ofstream(path) << "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> '" << log.string()
                            << "'\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    auto frm = b.window();
    ASSERT_TRUE(frm);
    frm->setCompanions(kvr::panel::Companions(folder));
    for (const char* button : {"cmd2pts", "cmd9pts", "Command1", "Command7"})
        control<QPushButton>(*frm, button)->click();
    EXPECT_FALSE(control<QPushButton>(*frm, "Command7")->isEnabled());
    auto lines = [&] {
        std::ifstream in(log);
        std::vector<std::string> out;
        for (std::string l; std::getline(in, l);)
            out.push_back(l);
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_TRUE(waitUntil([&] { return lines().size() == 4; }));
    EXPECT_EQ(lines(), (std::vector<std::string>{"cal3pt RS232_DEVICE0", "linear RS232_DEVICE0 -9",
                                                 "nvbackup ", "sketch -1"}));

    // A missing program: the calibration buttons say so; "Restore last backup" does nothing.
    testing::internal::CaptureStderr();
    control<QPushButton>(*frm, "cmd5pts")->setEnabled(true);
    std::filesystem::remove(folder / "linear");
    control<QPushButton>(*frm, "cmd5pts")->click();
    control<QPushButton>(*frm, "Command19")->click();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "messagebox: : linear.exe !?\n");
    EXPECT_TRUE(control<QPushButton>(*frm, "Command19")->isEnabled());
}

// Ctrl+E while the start-up waits for the controller: the window goes at once, the start-up
// finishes its reads, and then the exit sequence runs and the program may end.
TEST(PanelTools, ExitDuringTheStartUpEndsAfterIt) {
    START_BENCH(b, Sim::defaultProfile(), "ok");
    ASSERT_TRUE(writeFirstBackup(Sim::defaultProfile())); // the start-up's reads, no backup
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    frm.show();
    bool endedDuringStartUp = true;
    QObject::connect(&frm, &FrmMain::terminated, [&] { endedDuringStartUp = !frm.startUpDone(); });
    QSignalSpy ended(&frm, &FrmMain::terminated);
    QTimer::singleShot(0, &frm, [&] { QTest::keyClick(&frm, Qt::Key_E, Qt::ControlModifier); });
    frm.startUp();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_TRUE(waitForGui([&] { return ended.count() == 1; }));
    EXPECT_FALSE(endedDuringStartUp);
}

TEST(PanelTools, NoControllerSaysSoAndStaysUsable) {
    ::setenv("KVR_MESSAGE_ANSWERS", "ok", 1);
    ::setenv("KVR_CONFIG_DIR", makeTempDir("config").c_str(), 1);
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    testing::internal::CaptureStderr();
    frm.startUp();
    const std::string boxes = testing::internal::GetCapturedStderr();
    // The box's own text, then why; the reason on stderr too.
    EXPECT_NE(boxes.find("messagebox: : No device was found\\nthe driver is not running\n"),
              std::string::npos)
        << boxes;
    EXPECT_NE(boxes.find("panel_test: the driver is not running\n"), std::string::npos) << boxes;
    EXPECT_FALSE(std::filesystem::exists(stateDir() / "eepdef.eep"));
    EXPECT_FALSE(control<QTabWidget>(frm, "SSTab1")->isTabEnabled(kvr::panel::Tab::Advance));

    // A controller listed while no driver serves it cannot be opened when it is chosen.
    ASSERT_TRUE(tsapi::writeMarkers({"RS232_DEVICE0"}));
    testing::internal::CaptureStderr();
    frm.Grid1_Click(0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "panel_test: the driver is not running\n"
              "messagebox: : Open Controller Error!!\\nthe driver is not running\n");
    EXPECT_EQ(control<QLineEdit>(frm, "Text1")->text(), "RS232_DEVICE0");
}

// ---- keyboard and assistive technology --------------------------------------------------------

TEST(PanelKeyboard, TheListFollowsTheKeysAndTheBusHearsWhatTheScreenShows) {
    START_BENCH(b, Sim::profile("nvlt3000"));
    ASSERT_NE(b.bench().addSerial(1, 2, Sim::profile("legacy")), nullptr) << b.why();
    auto frm = b.window();
    ASSERT_TRUE(frm);
    frm->show();
    frm->startUp();
    auto* tabs = control<QTabWidget>(*frm, "SSTab1");
    auto* grid = control<QTableWidget>(*frm, "Grid1");
    auto* active = control<QLineEdit>(*frm, "Text1");
    ASSERT_EQ(active->text(), "RS232_DEVICE0");
    ASSERT_TRUE(tabs->isTabEnabled(kvr::panel::Tab::Advance));

    // The Device page in Tab order: the list, the active name, the identity text, the buttons.
    tabs->setCurrentIndex(kvr::panel::Tab::Device);
    EXPECT_EQ(tabChain(frm.get(), grid, 6).join(' ').toStdString(),
              "Grid1 Text1 lblFirmware cmd5pts cmd9pts Command5");

    // An arrow key moves the highlight, and so the active controller and every page.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_TRUE(waitForGui([&] { return active->text() == "RS232_DEVICE1" && !frm->busy(); }));
    EXPECT_FALSE(tabs->isTabEnabled(kvr::panel::Tab::Advance)) << "the legacy unit's pages";
    // Enter on the list is the click: the same controller chosen again.
    const std::size_t before = b.mark();
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(active->text(), "RS232_DEVICE1");
    EXPECT_GT(b.mark(), before) << "the pages were read again";

    // Enter on a focused button presses it.
    tabs->setCurrentIndex(kvr::panel::Tab::Settings);
    control<QPushButton>(*frm, "Command17")->setFocus();
    QTest::keyClick(control<QPushButton>(*frm, "Command17"), Qt::Key_Return);
    EXPECT_TRUE(waitForGui([&] { return control<QWidget>(*frm, "fraHelpText")->isVisible(); }));

    // Tabs say what the screen draws; sliders speak the value shown beside them.
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tabs->tabBar());
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->childCount(), tabs->count());
    for (int i = 0; i < tabs->count(); ++i)
        EXPECT_EQ(bar->child(i)->state().disabled, !tabs->isTabEnabled(i)) << i;
    EXPECT_EQ(bar->child(kvr::panel::Tab::Advance)->actionInterface()->actionNames(),
              QStringList()) << "a disabled tab cannot be chosen through the bus";
    auto* frequency = control<QScrollBar>(*frm, "VScroll1");
    QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(frequency);
    ASSERT_NE(slider->valueInterface(), nullptr);
    EXPECT_EQ(slider->valueInterface()->currentValue().toInt(),
              control<QLabel>(*frm, "VScroll1Value")->text().toInt());
    slider->valueInterface()->setCurrentValue(4000);
    EXPECT_EQ(frequency->value(), 40) << "hertz through the bus, steps on the slider";
    EXPECT_EQ(slider->text(QAccessible::Value), "4000 Hz");
}

} // namespace
} // namespace kvr::test::panel
