// The "Tools" tab and the calibration buttons: the suite's other programs started beside the
// panel, "Reset" and "Defaults", and the backup buttons.

#include "gui/widgets.h"
#include "panel/frm_main.h"
#include "platform/desktop/message_box.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kvr::panel {

using gui::named;

QWidget* FrmMain::buildToolsTab() {
    auto* page = new QWidget;
    page->setObjectName("Tools");
    Command7 =
        named(new QPushButton("Backup system settings "), "Command7", "Backup system settings ");
    Command19 = named(new QPushButton("Restore last backup"), "Command19", "Restore last backup");
    Command1 = named(new QPushButton("Draw"), "Command1", "Draw");
    lblDraw = new QLabel("Draw on the screen to test the calibration");
    lblDraw->setObjectName("lblDraw");
    Command3 = named(new QPushButton("Reset"), "Command3", "Reset");
    lblReset = new QLabel("Restart the touch controller");
    lblReset->setObjectName("lblReset");
    Command2 = named(new QPushButton("Defaults"), "Command2", "Defaults");
    lblDefaults = new QLabel("Restore the controller's factory settings");
    lblDefaults->setObjectName("lblDefaults");
    for (QLabel* description : {lblDraw, lblReset, lblDefaults})
        description->setWordWrap(true);
    connect(Command7, &QPushButton::clicked, this, &FrmMain::Command7_Click);
    connect(Command19, &QPushButton::clicked, this, &FrmMain::Command19_Click);
    connect(Command1, &QPushButton::clicked, this, &FrmMain::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &FrmMain::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &FrmMain::Command2_Click);

    auto* grid = new QGridLayout(page);
    auto* backup = new QHBoxLayout;
    backup->addWidget(Command7);
    backup->addWidget(Command19);
    backup->addStretch(1);
    grid->addLayout(backup, 0, 0, 1, 2);
    grid->addWidget(Command1, 1, 0);
    grid->addWidget(lblDraw, 1, 1);
    grid->addWidget(Command3, 2, 0);
    grid->addWidget(lblReset, 2, 1);
    grid->addWidget(Command2, 3, 0);
    grid->addWidget(lblDefaults, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(4, 1);

    // The controller information frame lies over the page while it shows.
    fraInfo = named(new QGroupBox("Controller", page), "fraInfo", "Controller");
    lblInfo = new QLabel(fraInfo);
    lblInfo->setObjectName("lblInfo");
    Command4 = named(new QPushButton("close"), "Command4", "close");
    connect(Command4, &QPushButton::clicked, this, &FrmMain::Command4_Click);
    auto* info = new QVBoxLayout(fraInfo);
    info->addWidget(lblInfo, 1);
    info->addWidget(Command4, 0, Qt::AlignRight);
    fraInfo->setAutoFillBackground(true);
    fraInfo->adjustSize();
    fraInfo->hide();
    return page;
}

void FrmMain::cmd2pts_Click() {
    if (!companions_.present(companion::kScaleOffset)) {
        desktop::messageBox("cal3pt.exe !?", dialogTitle_, desktop::MB_OKCANCEL);
        return;
    }
    companions_.start(companion::kScaleOffset, scaleOffsetArgs(session_.selectedName));
}

void FrmMain::startLinearity(int points) {
    if (!companions_.present(companion::kLinearity)) {
        desktop::messageBox("linear.exe !?", dialogTitle_, desktop::MB_OK);
        return;
    }
    companions_.start(companion::kLinearity, linearityArgs(session_.selectedName, points));
}

void FrmMain::cmd5pts_Click() {
    startLinearity(5);
}

void FrmMain::cmd9pts_Click() {
    startLinearity(9);
}

void FrmMain::Command1_Click() {
    setWindowState(Qt::WindowNoState);
    if (!busy_) {
        busy_ = true;
        const std::uint8_t display = readDisplayNumber(session_);
        companions_.start(companion::kDrawing, drawingArgs(display));
    }
    busy_ = false;
}

void FrmMain::Command7_Click() {
    if (!companions_.present(companion::kBackup)) return;
    Command7->setEnabled(false); // until the next tab change
    companions_.start(companion::kBackup);
}

void FrmMain::Command19_Click() {
    if (!companions_.present(companion::kRestore)) return;
    Command19->setEnabled(false);
    companions_.start(companion::kRestore);
}

void FrmMain::Command3_Click() {
    if (busy_) return;
    busy_ = true;
    const bool ok = resetController(session_, savedReportMode_);
    desktop::messageBox(messages_[ok ? msg::kResetOk : msg::kResetError],
                        messages_[msg::kResetTitle], desktop::MB_OK);
    busy_ = false;
}

void FrmMain::Command2_Click() {
    const bool ok = restoreDefaults(session_);
    desktop::messageBox(messages_[ok ? msg::kRestoreOk : msg::kRestoreError],
                        messages_[msg::kResetTitle], desktop::MB_OK);
}

void FrmMain::Command4_Click() {
    fraInfo->hide();
}

void FrmMain::SSTab1_Click(int) {
    Command7->setEnabled(true);
    Command19->setEnabled(true);
    fraHelpText->hide();
}

} // namespace kvr::panel
