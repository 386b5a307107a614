// The "Settings" tab: how the driver turns touches into pointer actions and sounds. Each
// control calls one library export on the selected controller; readset reads them all back.

#include "gui/widgets.h"
#include "panel/frm_main.h"
#include "panel/library.h"
#include "panel/ranges.h"
#include "panel/text_file.h"
#include "platform/common/paths.h"
#include "platform/desktop/message_box.h"
#include "tsapi/tsapi.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kvr::panel {

using gui::named;

namespace {

// Where the hidden text frame opens on the page, in twips.
constexpr int kHelpFrameLeftTwips = 120;
constexpr int kHelpFrameTopTwips = 480;
constexpr std::uint8_t kReportsOff = 2;
constexpr std::uint8_t kReportsOn = 0;
constexpr std::uint32_t kSoundBuzzer = 1;
constexpr std::uint32_t kSoundAudio = 2;

QRadioButton* option(const char* name, const QString& caption) {
    return named(new QRadioButton(caption), name, caption);
}

QCheckBox* check(const char* name, const QString& caption) {
    return named(new QCheckBox(caption), name, caption);
}

} // namespace

QWidget* FrmMain::buildSettingsTab() {
    auto* page = new QWidget;
    page->setObjectName("Settings");

    fraTouchMode = named(new QGroupBox("Touch Mode"), "fraTouchMode", "Touch Mode");
    auto* modes = new QVBoxLayout(fraTouchMode);
    const std::array<const char*, 3> modeCaptions = {"Desk Top", "Drawing", "Button"};
    for (std::size_t i = 0; i < Option3.size(); ++i) {
        const std::string name = "Option3(" + std::to_string(i) + ")";
        Option3[i] = option(name.c_str(), modeCaptions[i]);
        modes->addWidget(Option3[i]);
        connect(Option3[i], &QRadioButton::clicked, this,
                [this, i] { Option3_Click(static_cast<int>(i)); });
    }

    fraRotation = named(new QGroupBox("Rotation :"), "fraRotation", "Rotation :");
    auto* rotations = new QVBoxLayout(fraRotation);
    const std::array<const char*, 4> rotationCaptions = {" 0", "90", "180", "270"};
    for (std::size_t i = 0; i < Option2.size(); ++i) {
        const std::string name = "Option2(" + std::to_string(i) + ")";
        Option2[i] = option(name.c_str(), rotationCaptions[i]);
        rotations->addWidget(Option2[i]);
        connect(Option2[i], &QRadioButton::clicked, this,
                [this, i] { Option2_Click(static_cast<int>(i)); });
    }

    fraRightClick = named(new QGroupBox("Right Click Mode"), "fraRightClick", "Right Click Mode");
    auto* rightClick = new QVBoxLayout(fraRightClick);
    Check4 = check("Check4", "Enable Auto Right Click");
    Check6 = check("Check6", "Enable Manual Right Click");
    rightClick->addWidget(Check4);
    rightClick->addWidget(Check6);
    rightClick->addStretch(1);
    connect(Check4, &QCheckBox::toggled, this, &FrmMain::Check4_Click);
    connect(Check6, &QCheckBox::toggled, this, &FrmMain::Check6_Click);

    fraSound = named(new QGroupBox("Sound Mode"), "fraSound", "Sound Mode");
    Option1 = option("Option1", "Audio");
    Option4 = option("Option4", "Buzzer");
    Check1 = check("Check1", "Enable Touch Up  Sound");
    Check2 = check("Check2", "Enable Touch Down  Sound");
    connect(Option1, &QRadioButton::clicked, this, [this] { soundTypeChosen(false); });
    connect(Option4, &QRadioButton::clicked, this, [this] { soundTypeChosen(true); });
    connect(Check1, &QCheckBox::toggled, this, &FrmMain::Check1_Click);
    connect(Check2, &QCheckBox::toggled, this, &FrmMain::Check2_Click);

    fraBuzzer = named(new QGroupBox, "fraBuzzer", "Buzzer");
    auto* buzzer = new QGridLayout(fraBuzzer);
    lblFrequency = new QLabel("Frequency");
    lblFrequency->setObjectName("lblFrequency");
    VScroll1 = named(new QScrollBar(Qt::Vertical), "VScroll1", "Frequency");
    VScroll1->setRange(kBuzzerFrequency.minimum, kBuzzerFrequency.maximum);
    VScroll1->setPageStep(kBuzzerFrequency.largeStep);
    VScroll1->setMinimumHeight(90);
    lblFrequencyValue = new QLabel;
    lblFrequencyValue->setObjectName("VScroll1Value");
    lblDuration = new QLabel("Duration");
    lblDuration->setObjectName("lblDuration");
    VScroll2 = named(new QScrollBar(Qt::Vertical), "VScroll2", "Duration");
    VScroll2->setRange(kBuzzerDuration.minimum, kBuzzerDuration.maximum);
    VScroll2->setPageStep(kBuzzerDuration.largeStep);
    VScroll2->setMinimumHeight(90);
    lblDurationValue = new QLabel;
    lblDurationValue->setObjectName("VScroll2Value");
    Command9 = named(new QPushButton("Set"), "Command9", "Set");
    connect(VScroll1, &QScrollBar::valueChanged, this,
            [this](int v) { lblFrequencyValue->setText(QString::number(v * kBuzzerHzPerStep)); });
    connect(VScroll2, &QScrollBar::valueChanged, this,
            [this](int v) { lblDurationValue->setText(QString::number(v * kBuzzerMsPerStep)); });
    connect(Command9, &QPushButton::clicked, this, &FrmMain::Command9_Click);
    VScroll1->setValue(kBuzzerFrequency.initial);
    VScroll2->setValue(kBuzzerDuration.initial);
    lblFrequencyValue->setText(QString::number(kBuzzerFrequency.initial * kBuzzerHzPerStep));
    lblDurationValue->setText(QString::number(kBuzzerDuration.initial * kBuzzerMsPerStep));
    buzzer->addWidget(lblFrequency, 0, 0, Qt::AlignHCenter);
    buzzer->addWidget(lblDuration, 0, 1, Qt::AlignHCenter);
    buzzer->addWidget(VScroll1, 1, 0, Qt::AlignHCenter);
    buzzer->addWidget(VScroll2, 1, 1, Qt::AlignHCenter);
    buzzer->addWidget(lblFrequencyValue, 2, 0, Qt::AlignHCenter);
    buzzer->addWidget(lblDurationValue, 2, 1, Qt::AlignHCenter);
    buzzer->addWidget(Command9, 3, 0, 1, 2);
    fraBuzzer->hide(); // shown while the buzzer is the sound type

    auto* sound = new QGridLayout(fraSound);
    sound->addWidget(Option1, 0, 0);
    sound->addWidget(Option4, 1, 0);
    sound->addWidget(Check1, 2, 0);
    sound->addWidget(Check2, 3, 0);
    sound->setRowStretch(4, 1);
    sound->addWidget(fraBuzzer, 0, 1, 5, 1);

    Command17 = named(new QPushButton("Hide Cursor"), "Command17", "Hide Cursor");
    Check5 = check("Check5", "Disable Touch Panel");
    connect(Command17, &QPushButton::clicked, this, &FrmMain::Command17_Click);
    connect(Check5, &QCheckBox::toggled, this, &FrmMain::Check5_Click);

    auto* grid = new QGridLayout(page);
    grid->addWidget(fraTouchMode, 0, 0);
    grid->addWidget(fraRotation, 0, 1);
    grid->addWidget(fraRightClick, 1, 0);
    grid->addWidget(fraSound, 1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Command17);
    bottom->addStretch(1);
    bottom->addWidget(Check5);
    grid->addLayout(bottom, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);

    // The hidden text frame lies over the page while it shows.
    fraHelpText = named(new QGroupBox(page), "fraHelpText", "Hide Cursor");
    Text2 = named(new QPlainTextEdit, "Text2", "help text");
    Text2->setReadOnly(true);
    Check3 = check("Check3", "Enable Double Click");
    Command18 = named(new QPushButton("OK"), "Command18", "OK");
    connect(Check3, &QCheckBox::toggled, this, &FrmMain::Check3_Click);
    connect(Command18, &QPushButton::clicked, this, &FrmMain::Command18_Click);
    auto* help = new QVBoxLayout(fraHelpText);
    help->addWidget(Text2, 1);
    auto* helpButtons = new QHBoxLayout;
    helpButtons->addWidget(Check3);
    helpButtons->addStretch(1);
    helpButtons->addWidget(Command18);
    help->addLayout(helpButtons);
    fraHelpText->setAutoFillBackground(true);
    fraHelpText->hide();
    return page;
}

void FrmMain::placeHelpFrame() {
    QWidget* page = fraHelpText->parentWidget();
    const double dpi = page->logicalDpiX();
    const QPoint at(twipsToPixels(kHelpFrameLeftTwips, dpi),
                    twipsToPixels(kHelpFrameTopTwips, dpi));
    const QSize room = page->size() - QSize(2 * at.x(), at.y() + at.x());
    fraHelpText->setGeometry(QRect(at, room.expandedTo(fraHelpText->minimumSizeHint())));
    fraHelpText->raise();
}

// ---- reading the settings -------------------------------------------------------------------

void FrmMain::readset() {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    lib::aside([=] { return ReopenCOMPort(h); });

    // Report mode: a value outside 1..3 is taken as drawing mode, which the option's handler
    // also gives the driver and makes the saved mode.
    const std::uint8_t mode = lib::call([=] { return GetReportMode(h); });
    savedReportMode_ = shownReportMode(mode);
    const int modeIndex = savedReportMode_ - 1;
    selectOption(Option3[static_cast<std::size_t>(modeIndex)]);
    Option3_Click(modeIndex);

    const std::uint32_t hz = lib::call([] { return Get_BuzzerFreq(); });
    VScroll1->setValue(buzzerFrequencySlider(hz, VScroll1->value()));
    const std::uint32_t ms = lib::call([] { return Get_BuzzerDuration(); });
    VScroll2->setValue(buzzerDurationSlider(ms, VScroll2->value()));

    Check6->setChecked(lib::call([] { return Get_Manual_RightClick_Status(); }) != 0);

    const bool buzzer = lib::call([] { return Get_Sound_Type(); }) == kSoundBuzzer;
    (buzzer ? Option4 : Option1)->setChecked(true);
    soundTypeChosen(buzzer);

    const int rightClickMs = shownRightClickTime(lib::aside([=] { return GetRightClickTime(h); }));
    rightClickRow.value->setText(QString::number(rightClickMs)); // the label keeps t itself
    {
        const QSignalBlocker quiet(rightClickRow.bar);
        rightClickRow.bar->setValue(rightClickSlider(rightClickMs));
    }

    Check4->setChecked(lib::call([=] { return GetRightClickEnabled(h); }) != 0);

    const int speed = shownDoubleClickSpeed(lib::call([=] { return GetDoubleClickSpeed(h); }));
    speedRow.bar->setValue(speed);
    speedRow.value->setText(QString::number(speed * kSpeedLabelFactor));
    const int area = shownDoubleClickArea(lib::call([=] { return GetDoubleClickArea(h); }));
    areaRow.bar->setValue(area);
    areaRow.value->setText(QString::number(area));
    {
        // The hidden double-click box shows the driver's state; showing it sends nothing.
        const QSignalBlocker quiet(Check3);
        Check3->setChecked(lib::call([=] { return GetDoubleClickEnabled(h); }) != 0);
    }

    Check5->setChecked(lib::call([=] { return GetReportStatus(h); }) != 0);
    Check1->setChecked(lib::call([=] { return GetUpSoundStatus(h); }) != 0);
    Check2->setChecked(lib::call([=] { return GetDownSoundStatus(h); }) != 0);

    const int rotation = shownRotation(lib::call([=] { return GetRotation(h); }));
    selectOption(Option2[static_cast<std::size_t>(rotation)]);
    Option2_Click(rotation);

    Check5->setChecked(lib::call([=] { return GetReportStatus(h); }) != 0);
    link.close();
    cmdInfo1();
    fraInfo->hide();
}

// ---- handlers -------------------------------------------------------------------------------

void FrmMain::Option3_Click(int index) {
    const auto mode = static_cast<std::uint8_t>(index + 1);
    {
        ControllerLink link(session_);
        link.setReportMode(mode);
    }
    savedReportMode_ = mode;
    Check4->setVisible(index != 2); // no automatic right click in button mode
}

void FrmMain::Option2_Click(int index) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    lib::call([=] { return SetRotation(h, static_cast<std::uint8_t>(index)); });
}

void FrmMain::Check4_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    lib::call([=] { return EnableRightClick(h, ticked ? 1 : 0); });
}

void FrmMain::Check6_Click(bool ticked) {
    if (!activated_) return;
    lib::call([=] { return Set_MRightClick_App(ticked ? -1 : 0); });
}

void FrmMain::Check3_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    lib::call([=] { return EnableDoubleClick(h, ticked ? 1 : 0); });
}

void FrmMain::Check1_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    lib::call([=] { return EnableUpSound(h, ticked ? 1 : 0); });
}

void FrmMain::Check2_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    lib::call([=] { return EnableDownSound(h, ticked ? 1 : 0); });
}

void FrmMain::Check5_Click(bool ticked) {
    // Only the user's own tick on the "Settings" tab, once the window is ready.
    if (!ready_ || SSTab1->tabText(SSTab1->currentIndex()) != SSTab1->tabText(Tab::Settings))
        return;
    if (ticked && ask(msg::kDisableQuestion, desktop::MB_YESNO) != desktop::IDYES) {
        const QSignalBlocker quiet(Check5); // reports are still on: nothing to send
        Check5->setChecked(false);
        return;
    }
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    lib::call([=] { return DisableTouchReport(h, ticked ? kReportsOff : kReportsOn); });
}

void FrmMain::soundTypeChosen(bool buzzer) {
    fraBuzzer->setVisible(buzzer);
    if (!activated_) return;
    lib::call([=] { return Set_Sound_Type(buzzer ? kSoundBuzzer : kSoundAudio); });
}

void FrmMain::Command9_Click() {
    const auto hz = lblFrequencyValue->text().toUInt();
    const auto ms = lblDurationValue->text().toUInt();
    lib::call([=] { return Set_BuzzerFreq(hz); });
    lib::call([=] { return Set_BuzzerDuration(ms); });
}

void FrmMain::Command17_Click() {
    QString text = "\n";
    if (const auto lines = readTextLines(paths::findConfigFile("cursoroff.txt")))
        for (const std::string& line : *lines)
            text += QString::fromStdString(line) + "\n";
    Text2->setPlainText(text);
    placeHelpFrame();
    fraHelpText->show();
}

void FrmMain::Command18_Click() {
    fraHelpText->hide();
}

} // namespace kvr::panel
