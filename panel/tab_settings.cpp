// The "Settings" tab: how the driver turns touches into pointer actions and sounds. Each
// control calls one library export on the selected controller; readset reads them all back.

#include "gui/accessibility.h"
#include "gui/library_worker.h"
#include "gui/widgets.h"
#include "panel/frm_main.h"
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

    touchModeFrame_ = named(new QGroupBox("Touch Mode"), "fraTouchMode", "Touch Mode");
    auto* modes = new QVBoxLayout(touchModeFrame_);
    const std::array<const char*, 3> modeCaptions = {"Desk Top", "Drawing", "Button"};
    for (std::size_t i = 0; i < touchModeOptions_.size(); ++i) {
        const std::string name = "Option3(" + std::to_string(i) + ")";
        touchModeOptions_[i] = option(name.c_str(), modeCaptions[i]);
        modes->addWidget(touchModeOptions_[i]);
        gui::onChecked(touchModeOptions_[i], this, [this, i] { Option3_Click(static_cast<int>(i)); });
    }

    rotationFrame_ = named(new QGroupBox("Rotation :"), "fraRotation", "Rotation :");
    auto* rotations = new QVBoxLayout(rotationFrame_);
    const std::array<const char*, 4> rotationCaptions = {" 0", "90", "180", "270"};
    for (std::size_t i = 0; i < rotationOptions_.size(); ++i) {
        const std::string name = "Option2(" + std::to_string(i) + ")";
        rotationOptions_[i] = option(name.c_str(), rotationCaptions[i]);
        rotations->addWidget(rotationOptions_[i]);
        gui::onChecked(rotationOptions_[i], this, [this, i] { Option2_Click(static_cast<int>(i)); });
    }

    rightClickFrame_ =
        named(new QGroupBox("Right Click Mode"), "fraRightClick", "Right Click Mode");
    auto* rightClick = new QVBoxLayout(rightClickFrame_);
    autoRightClick_ = check("Check4", "Enable Auto Right Click");
    manualRightClick_ = check("Check6", "Enable Manual Right Click");
    rightClick->addWidget(autoRightClick_);
    rightClick->addWidget(manualRightClick_);
    rightClick->addStretch(1);
    connect(autoRightClick_, &QCheckBox::toggled, this, &FrmMain::Check4_Click);
    connect(manualRightClick_, &QCheckBox::toggled, this, &FrmMain::Check6_Click);

    soundFrame_ = named(new QGroupBox("Sound Mode"), "fraSound", "Sound Mode");
    audioOption_ = option("Option1", "Audio");
    buzzerOption_ = option("Option4", "Buzzer");
    upSound_ = check("Check1", "Enable Touch Up  Sound");
    downSound_ = check("Check2", "Enable Touch Down  Sound");
    gui::onChecked(audioOption_, this, [this] { soundTypeChosen(false); });
    gui::onChecked(buzzerOption_, this, [this] { soundTypeChosen(true); });
    connect(upSound_, &QCheckBox::toggled, this, &FrmMain::Check1_Click);
    connect(downSound_, &QCheckBox::toggled, this, &FrmMain::Check2_Click);

    buzzerFrame_ = named(new QGroupBox, "fraBuzzer", "Buzzer");
    auto* buzzer = new QGridLayout(buzzerFrame_);
    frequencyCaption_ = new QLabel("Frequency");
    frequencyCaption_->setObjectName("lblFrequency");
    frequencyBar_ = named(new QScrollBar(Qt::Vertical), "VScroll1", "Frequency");
    frequencyBar_->setRange(kBuzzerFrequency.minimum, kBuzzerFrequency.maximum);
    frequencyBar_->setPageStep(kBuzzerFrequency.largeStep);
    frequencyBar_->setMinimumHeight(90);
    frequencyLabel_ = new QLabel;
    frequencyLabel_->setObjectName("VScroll1Value");
    durationCaption_ = new QLabel("Duration");
    durationCaption_->setObjectName("lblDuration");
    durationBar_ = named(new QScrollBar(Qt::Vertical), "VScroll2", "Duration");
    durationBar_->setRange(kBuzzerDuration.minimum, kBuzzerDuration.maximum);
    durationBar_->setPageStep(kBuzzerDuration.largeStep);
    durationBar_->setMinimumHeight(90);
    durationLabel_ = new QLabel;
    durationLabel_->setObjectName("VScroll2Value");
    buzzerSetButton_ = named(new QPushButton("Set"), "Command9", "Set");
    connect(frequencyBar_, &QScrollBar::valueChanged, this,
            [this](int v) { frequencyLabel_->setText(QString::number(v * kBuzzerHzPerStep)); });
    connect(durationBar_, &QScrollBar::valueChanged, this,
            [this](int v) { durationLabel_->setText(QString::number(v * kBuzzerMsPerStep)); });
    connect(buzzerSetButton_, &QPushButton::clicked, this, &FrmMain::Command9_Click);
    gui::tieValueLabel(frequencyBar_, frequencyLabel_, kBuzzerHzPerStep, "Hz");
    gui::tieValueLabel(durationBar_, durationLabel_, kBuzzerMsPerStep, "ms");
    frequencyBar_->setValue(kBuzzerFrequency.initial);
    durationBar_->setValue(kBuzzerDuration.initial);
    frequencyLabel_->setText(QString::number(kBuzzerFrequency.initial * kBuzzerHzPerStep));
    durationLabel_->setText(QString::number(kBuzzerDuration.initial * kBuzzerMsPerStep));
    buzzer->addWidget(frequencyCaption_, 0, 0, Qt::AlignHCenter);
    buzzer->addWidget(durationCaption_, 0, 1, Qt::AlignHCenter);
    buzzer->addWidget(frequencyBar_, 1, 0, Qt::AlignHCenter);
    buzzer->addWidget(durationBar_, 1, 1, Qt::AlignHCenter);
    buzzer->addWidget(frequencyLabel_, 2, 0, Qt::AlignHCenter);
    buzzer->addWidget(durationLabel_, 2, 1, Qt::AlignHCenter);
    buzzer->addWidget(buzzerSetButton_, 3, 0, 1, 2);
    buzzerFrame_->hide(); // shown while the buzzer is the sound type

    auto* sound = new QGridLayout(soundFrame_);
    sound->addWidget(audioOption_, 0, 0);
    sound->addWidget(buzzerOption_, 1, 0);
    sound->addWidget(upSound_, 2, 0);
    sound->addWidget(downSound_, 3, 0);
    sound->setRowStretch(4, 1);
    sound->addWidget(buzzerFrame_, 0, 1, 5, 1);

    hideCursorButton_ = named(new QPushButton("Hide Cursor"), "Command17", "Hide Cursor");
    disableTouch_ = check("Check5", "Disable Touch Panel");
    connect(hideCursorButton_, &QPushButton::clicked, this, &FrmMain::Command17_Click);
    connect(disableTouch_, &QCheckBox::toggled, this, &FrmMain::Check5_Click);

    auto* grid = new QGridLayout(page);
    grid->addWidget(touchModeFrame_, 0, 0);
    grid->addWidget(rotationFrame_, 0, 1);
    grid->addWidget(rightClickFrame_, 1, 0);
    grid->addWidget(soundFrame_, 1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(hideCursorButton_);
    bottom->addStretch(1);
    bottom->addWidget(disableTouch_);
    grid->addLayout(bottom, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);

    // The hidden text frame lies over the page while it shows.
    helpFrame_ = named(new QGroupBox(page), "fraHelpText", "Hide Cursor");
    helpText_ = named(new QPlainTextEdit, "Text2", "help text");
    helpText_->setReadOnly(true);
    doubleClick_ = check("Check3", "Enable Double Click");
    helpOkButton_ = named(new QPushButton("OK"), "Command18", "OK");
    connect(doubleClick_, &QCheckBox::toggled, this, &FrmMain::Check3_Click);
    connect(helpOkButton_, &QPushButton::clicked, this, &FrmMain::Command18_Click);
    auto* help = new QVBoxLayout(helpFrame_);
    help->addWidget(helpText_, 1);
    auto* helpButtons = new QHBoxLayout;
    helpButtons->addWidget(doubleClick_);
    helpButtons->addStretch(1);
    helpButtons->addWidget(helpOkButton_);
    help->addLayout(helpButtons);
    helpFrame_->setAutoFillBackground(true);
    helpFrame_->hide();
    return page;
}

void FrmMain::placeHelpFrame() {
    QWidget* page = helpFrame_->parentWidget();
    const double dpi = page->logicalDpiX();
    const QPoint at(twipsToPixels(kHelpFrameLeftTwips, dpi),
                    twipsToPixels(kHelpFrameTopTwips, dpi));
    const QSize room = page->size() - QSize(2 * at.x(), at.y() + at.x());
    helpFrame_->setGeometry(QRect(at, room.expandedTo(helpFrame_->minimumSizeHint())));
    helpFrame_->raise();
}

// ---- reading the settings -------------------------------------------------------------------

void FrmMain::readset() {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    gui::libraryCall([=] { return ReopenCOMPort(h); });

    // Report mode: a value outside 1..3 is taken as drawing mode, which the option's handler
    // also gives the driver and makes the saved mode.
    const std::uint8_t mode = gui::libraryCall([=] { return GetReportMode(h); });
    savedReportMode_ = shownReportMode(mode);
    const int modeIndex = savedReportMode_ - 1;
    gui::selectInCode(touchModeOptions_[static_cast<std::size_t>(modeIndex)]);

    const std::uint32_t hz = gui::libraryCall([] { return Get_BuzzerFreq(); });
    frequencyBar_->setValue(buzzerFrequencySlider(hz, frequencyBar_->value()));
    const std::uint32_t ms = gui::libraryCall([] { return Get_BuzzerDuration(); });
    durationBar_->setValue(buzzerDurationSlider(ms, durationBar_->value()));

    manualRightClick_->setChecked(gui::libraryCall([] { return Get_Manual_RightClick_Status(); }) !=
                                  0);

    const bool buzzer = gui::libraryCall([] { return Get_Sound_Type(); }) == kSoundBuzzer;
    gui::selectInCode(buzzer ? buzzerOption_ : audioOption_);

    const int rightClickMs =
        shownRightClickTime(gui::libraryCall([=] { return GetRightClickTime(h); }));
    {
        // The time shown is t itself, not the slider's step nearest to it.
        const QSignalBlocker quiet(rightClickTimeRow_.bar);
        rightClickTimeRow_.bar->setValue(rightClickSlider(rightClickMs));
    }
    showRightClickTime(rightClickMs);

    autoRightClick_->setChecked(gui::libraryCall([=] { return GetRightClickEnabled(h); }) != 0);

    const int speed =
        shownDoubleClickSpeed(gui::libraryCall([=] { return GetDoubleClickSpeed(h); }));
    doubleClickSpeedRow_.bar->setValue(speed);
    doubleClickSpeedRow_.value->setText(QString::number(speed * kSpeedLabelFactor));
    const int area = shownDoubleClickArea(gui::libraryCall([=] { return GetDoubleClickArea(h); }));
    doubleClickAreaRow_.bar->setValue(area);
    doubleClickAreaRow_.value->setText(QString::number(area));
    {
        // The hidden double-click box shows the driver's state; showing it sends nothing.
        const QSignalBlocker quiet(doubleClick_);
        doubleClick_->setChecked(gui::libraryCall([=] { return GetDoubleClickEnabled(h); }) != 0);
    }

    disableTouch_->setChecked(gui::libraryCall([=] { return GetReportStatus(h); }) != 0);
    upSound_->setChecked(gui::libraryCall([=] { return GetUpSoundStatus(h); }) != 0);
    downSound_->setChecked(gui::libraryCall([=] { return GetDownSoundStatus(h); }) != 0);

    const int rotation = shownRotation(gui::libraryCall([=] { return GetRotation(h); }));
    gui::selectInCode(rotationOptions_[static_cast<std::size_t>(rotation)]);

    disableTouch_->setChecked(gui::libraryCall([=] { return GetReportStatus(h); }) != 0);
    link.close();
    cmdInfo1();
    infoFrame_->hide();
}

// ---- handlers -------------------------------------------------------------------------------

void FrmMain::Option3_Click(int index) {
    const auto mode = static_cast<std::uint8_t>(index + 1);
    {
        ControllerLink link(session_);
        link.setReportMode(mode);
    }
    savedReportMode_ = mode;
    autoRightClick_->setVisible(index != 2); // no automatic right click in button mode
}

void FrmMain::Option2_Click(int index) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    gui::libraryCall([=] { return SetRotation(h, static_cast<std::uint8_t>(index)); });
}

void FrmMain::Check4_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    gui::libraryCall([=] { return EnableRightClick(h, ticked ? 1 : 0); });
}

void FrmMain::Check6_Click(bool ticked) {
    if (!activated_) return;
    gui::libraryCall([=] { return Set_MRightClick_App(ticked ? -1 : 0); });
}

void FrmMain::Check3_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    gui::libraryCall([=] { return EnableDoubleClick(h, ticked ? 1 : 0); });
}

void FrmMain::Check1_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    gui::libraryCall([=] { return EnableUpSound(h, ticked ? 1 : 0); });
}

void FrmMain::Check2_Click(bool ticked) {
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    gui::libraryCall([=] { return EnableDownSound(h, ticked ? 1 : 0); });
}

void FrmMain::Check5_Click(bool ticked) {
    // Only the user's own tick on the "Settings" tab, once the window is ready.
    if (!ready_ || tabs_->tabText(tabs_->currentIndex()) != tabs_->tabText(Tab::Settings)) return;
    if (ticked && ask(msg::kDisableQuestion, desktop::MB_YESNO) != desktop::IDYES) {
        const QSignalBlocker quiet(disableTouch_); // reports are still on: nothing to send
        disableTouch_->setChecked(false);
        return;
    }
    ControllerLink link(session_);
    const std::int32_t h = link.handle();
    gui::libraryCall([=] { return DisableTouchReport(h, ticked ? kReportsOff : kReportsOn); });
}

void FrmMain::soundTypeChosen(bool buzzer) {
    buzzerFrame_->setVisible(buzzer);
    if (!activated_) return;
    gui::libraryCall([=] { return Set_Sound_Type(buzzer ? kSoundBuzzer : kSoundAudio); });
}

void FrmMain::Command9_Click() {
    const auto hz = static_cast<std::uint32_t>(frequencyBar_->value() * kBuzzerHzPerStep);
    const auto ms = static_cast<std::uint32_t>(durationBar_->value() * kBuzzerMsPerStep);
    gui::libraryCall([=] { return Set_BuzzerFreq(hz); });
    gui::libraryCall([=] { return Set_BuzzerDuration(ms); });
}

void FrmMain::Command17_Click() {
    QString text = "\n";
    if (const auto lines = readTextLines(paths::findConfigFile("cursoroff.txt")))
        for (const std::string& line : *lines)
            text += QString::fromStdString(line) + "\n";
    helpText_->setPlainText(text);
    placeHelpFrame();
    helpFrame_->show();
}

void FrmMain::Command18_Click() {
    helpFrame_->hide();
}

} // namespace kvr::panel
