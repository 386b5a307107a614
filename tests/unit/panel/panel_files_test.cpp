// The panel's files: the message table with a short "errmsg.txt", the customisation file's
// reading rules and its three formats applied to the window (file precedence, captions,
// hidden keys in lower case, inactive hidden keys), and the settings rounding rules.

#include "gui/widgets.h"
#include "panel/customisation.h"
#include "panel/frm_main.h"
#include "panel/messages.h"
#include "panel/ranges.h"
#include "protocol/frame.h"
#include "tests/support/qt_support.h"
#include "tests/support/test_env.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace kvr::panel {
namespace {

namespace fs = std::filesystem;

fs::path configWith(const std::vector<const char*>& files) {
    const fs::path dir = test::makeTempDir("config");
    for (const char* name : files)
        fs::copy_file(fs::path(KVR_PANEL_DATA) / name, dir / name);
    ::setenv("KVR_CONFIG_DIR", dir.c_str(), 1);
    return dir;
}

TEST(PanelMessages, ShortFileKeepsTheBuiltInTextsOfMissingSlots) {
    const fs::path dir = configWith({});
    std::ofstream(dir / "errmsg.txt") << "Kein Gerät\r\nÖffnen, \"fehlgeschlagen\"\r\n\r\n";
    MessageTable table;
    ASSERT_TRUE(table.loadMessages());
    EXPECT_EQ(table[0], "Kein Gerät");
    EXPECT_EQ(table[1], "Öffnen, \"fehlgeschlagen\"");
    EXPECT_EQ(table[2], "");
    EXPECT_EQ(table[11], "Controll Reset Error");
    EXPECT_EQ(table[100], "");
    // Text from the old systems is in the Windows code page.
    std::ofstream(dir / "errmsg.txt") << "Ger\xE4t \x93OK\x94 \x80\n";
    table.loadMessages();
    EXPECT_EQ(table[0], "Gerät \u201COK\u201D \u20AC");
}

TEST(PanelCustomisation, ReadingRulesAndBadFiles) {
    std::string warning;
    // Quoted fields keep their blanks and commas; two fields may share a line; a line item
    // takes its line whole.
    std::string text = "1,1, 1 ,1,1,1\n\" General, too \" trailing\n";
    for (int i = 8; i <= 89; ++i)
        text += itemKind(i) == ItemKind::Flag     ? "1\n"
                : itemKind(i) == ItemKind::Number ? "10\n"
                                                  : "x\n";
    text += "  5 Pts, \"calibration\"\n";
    auto c = Customisation::parse(text, CustomisationFormat::Format32, "touch32.fmt", &warning);
    EXPECT_EQ(c.text(7), " General, too ");
    EXPECT_EQ(c.text(90), "  5 Pts, \"calibration\"");
    EXPECT_EQ(c.itemsRead(), 90);
    EXPECT_EQ(warning, "touch32.fmt: item 91: the file ends here (format 32 has 125 items); "
                       "design values kept from this item on");

    // A text where a number stands ends the reading there; item 114 must be 0 or 1.
    warning.clear();
    c = Customisation::parse("1\n1\n1\n1\n1\n1\na\nb\nc\nd\ne\nf\nk\nm\np\nt\nl\na\nT\nred\n",
                             CustomisationFormat::Format3203, "touch3203.fmt", &warning);
    EXPECT_EQ(c.itemsRead(), 19);
    EXPECT_NE(warning.find("touch3203.fmt: item 20: \"red\" is not a whole number"),
              std::string::npos);
    EXPECT_EQ(c.hiddenKeys(), (std::array<char, 6>{'K', 'M', 'P', 'T', 'L', 'A'}));
    EXPECT_TRUE(c.hiddenKeysActive()) << "not read: design value";
}

struct WindowCase {
    const char* name;
    std::vector<const char*> files;
    const char* title; // dialog title
    const char* tab5;  // caption of tab 5
    const char* sound; // "Sound Mode" frame
    const char* pitch; // "Frequency" label
    bool keysActive;
};

class PanelCustomisationWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(PanelCustomisationWindow, AppliesItsFormatAndHiddenKeys) {
    const WindowCase& c = GetParam();
    configWith(c.files);
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    EXPECT_EQ(frm.dialogTitle(), c.title);
    using kvr::test::control;
    EXPECT_EQ(control<QTabWidget>(frm, "SSTab1")->tabText(Tab::Advance), c.tab5);
    EXPECT_EQ(control<QGroupBox>(frm, "fraSound")->title(), c.sound);
    EXPECT_EQ(control<QLabel>(frm, "lblFrequency")->text(), c.pitch);
    EXPECT_TRUE(frm.windowTitle().startsWith(QString(*c.title ? c.title : "Tactivo") +
                                             QString(30, ' ') + "[ Version :  3.2.0 -0]  "));

    // Hidden key 4 ("t" in the files, built-in "T") unlocks "Reset"; Alt+X locks it again.
    const auto* reset = control<QPushButton>(frm, "Command3");
    ASSERT_FALSE(reset->isEnabled());
    QTest::keyClick(&frm, Qt::Key_T, Qt::AltModifier);
    EXPECT_EQ(reset->isEnabled(), c.keysActive);
    QTest::keyClick(&frm, Qt::Key_X, Qt::AltModifier);
    EXPECT_FALSE(reset->isEnabled());
    EXPECT_EQ(control<QPushButton>(frm, "Command6")->isEnabled(), !c.keysActive)
        << "Alt+X does nothing when inactive";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PanelCustomisationWindow,
    ::testing::Values(
        WindowCase{"none", {}, "", "Advance", "Sound Mode", "Frequency", true},
        WindowCase{"f3203_first",
                   {"touch3203.fmt", "touch32.fmt"},
                   "Acme Touch",
                   "Expert",
                   "Sounds",
                   "Pitch",
                   true},
        WindowCase{"f32", {"touch32.fmt"}, "Lite Panel", "Advance", "Sounds", "Frequency", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PanelCustomisationWindow, FarPositionsAndSmallScreensKeepEveryControlReachable) {
    // A title label placed 2 000 000 000 twips to the right (a damaged or hostile file).
    const fs::path dir = configWith({"touch32.fmt"});
    std::vector<std::string> lines;
    {
        std::ifstream in(dir / "touch32.fmt");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    ASSERT_GT(lines.size(), 22u);
    lines[21] = "2000000000"; // item 22: the title label's left
    {
        std::ofstream out(dir / "touch32.fmt", std::ios::trunc);
        for (const std::string& line : lines)
            out << line << "\r\n";
    }
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    frm.show();
    const QRect screen = frm.screen()->availableGeometry();
    using kvr::test::control;
    EXPECT_LE(control<QLabel>(frm, "Label1")->x(), 601) << "kept on the page";
    EXPECT_TRUE(screen.contains(frm.frameGeometry())) << "the window lies on the screen";

    // Contents far larger than the screen (a large scale on a small display): the window
    // shrinks to the screen and its contents scroll, the Exit button within reach.
    gui::fitToScreen(&frm, screen.size() * 2);
    EXPECT_TRUE(screen.contains(frm.frameGeometry()));
    auto* exit = control<QPushButton>(frm, "cmdExit");
    control<QScrollArea>(frm, "contentScroll")->ensureWidgetVisible(exit);
    EXPECT_TRUE(frm.rect().contains(exit->mapTo(&frm, exit->rect().center())));
}

TEST(PanelRanges, ReadValuesBecomeSliderPositions) {
    // Halves go to the even neighbour; durations of 130..150 ms show as the maximum.
    EXPECT_EQ(buzzerFrequencySlider(3650, 1), 36);
    EXPECT_EQ(buzzerFrequencySlider(3750, 1), 38);
    EXPECT_EQ(buzzerFrequencySlider(12001, 7), 7);
    EXPECT_EQ(buzzerDurationSlider(150, 1), kBuzzerDuration.maximum);
    EXPECT_EQ(buzzerDurationSlider(4, 3), 3);
    EXPECT_EQ(shownRightClickTime(1273), 672);
    EXPECT_EQ(rightClickSlider(shownRightClickTime(400)), 50);
    EXPECT_EQ(shownReportMode(0), 2);
    EXPECT_EQ(shownRotation(4), 0);
    EXPECT_EQ(twipsToPixels(480, 96), 32);
    EXPECT_EQ(twipsToPixels(480, 192), 64);
    EXPECT_EQ(protocol::hexText(300), "12C"); // the "Advance" page's values as sent
    EXPECT_EQ(protocol::hexText(7), "07");
    EXPECT_EQ(controllerSlotName("xxRS232_DEVICE3yy"), "RS232_DEVICE3");
    EXPECT_EQ(controllerSlotName("COM1_DEVICE0"), "");
}

} // namespace
} // namespace kvr::panel
