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
    backupButton_ =
        named(new QPushButton("Backup system settings "), "Command7", "Backup system settings ");
    restoreButton_ =
        named(new QPushButton("Restore last backup"), "Command19", "Restore last backup");
    drawButton_ = named(new QPushButton("Draw"), "Command1", "Draw");
    drawCaption_ = new QLabel("Draw on the screen to test the calibration");
    drawCaption_->setObjectName("lblDraw");
    resetButton_ = named(new QPushButton("Reset"), "Command3", "Reset");
    resetCaption_ = new QLabel("Restart the touch controller");
    resetCaption_->setObjectName("lblReset");
    defaultsButton_ = named(new QPushButton("Defaults"), "Command2", "Defaults");
    defaultsCaption_ = new QLabel("Restore the controller's factory settings");
    defaultsCaption_->setObjectName("lblDefaults");
    for (QLabel* description : {drawCaption_, resetCaption_, defaultsCaption_})
        description->setWordWrap(true);
    connect(backupButton_, &QPushButton::clicked, this, &FrmMain::Command7_Click);
    connect(restoreButton_, &QPushButton::clicked, this, &FrmMain::Command19_Click);
    connect(drawButton_, &QPushButton::clicked, this, &FrmMain::Command1_Click);
    connect(resetButton_, &QPushButton::clicked, this, &FrmMain::Command3_Click);
    connect(defaultsButton_, &QPushButton::clicked, this, &FrmMain::Command2_Click);

    auto* grid = new QGridLayout(page);
    auto* backup = new QHBoxLayout;
    backup->addWidget(backupButton_);
    backup->addWidget(restoreButton_);
    backup->addStretch(1);
    grid->addLayout(backup, 0, 0, 1, 2);
    grid->addWidget(drawButton_, 1, 0);
    grid->addWidget(drawCaption_, 1, 1);
    grid->addWidget(resetButton_, 2, 0);
    grid->addWidget(resetCaption_, 2, 1);
    grid->addWidget(defaultsButton_, 3, 0);
    grid->addWidget(defaultsCaption_, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(4, 1);

    // The controller information frame lies over the page while it shows.
    infoFrame_ = named(new QGroupBox("Controller", page), "fraInfo", "Controller");
    infoLabel_ = new QLabel(infoFrame_);
    infoLabel_->setObjectName("lblInfo");
    infoCloseButton_ = named(new QPushButton("close"), "Command4", "close");
    connect(infoCloseButton_, &QPushButton::clicked, this, &FrmMain::Command4_Click);
    auto* info = new QVBoxLayout(infoFrame_);
    info->addWidget(infoLabel_, 1);
    info->addWidget(infoCloseButton_, 0, Qt::AlignRight);
    infoFrame_->setAutoFillBackground(true);
    infoFrame_->adjustSize();
    infoFrame_->hide();
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
    backupButton_->setEnabled(false); // until the next tab change
    companions_.start(companion::kBackup);
}

void FrmMain::Command19_Click() {
    if (!companions_.present(companion::kRestore)) return;
    restoreButton_->setEnabled(false);
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
    infoFrame_->hide();
}

void FrmMain::SSTab1_Click(int) {
    backupButton_->setEnabled(true);
    restoreButton_->setEnabled(true);
    helpFrame_->hide();
}

} // namespace kvr::panel
