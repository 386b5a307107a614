// The "Device" tab: the controller list, the selected controller, its firmware version, the
// linearity calibration buttons and "Release comport and Exit".

#include "gui/widgets.h"
#include "panel/frm_main.h"
#include "panel/ranges.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace kvr::panel {

using gui::named;

namespace {
constexpr std::array<int, 3> kColumnTwips = {600, 3800, 1500};
constexpr int kListRows = 9; // below the header row
} // namespace

QWidget* FrmMain::buildDeviceTab() {
    auto* page = new QWidget;
    page->setObjectName("Device");
    controllerTitle_ = named(new QLabel("Touch Controller"), "Label3");

    controllerGrid_ = named(new QTableWidget(kListRows, 3), "Grid1", "controllers");
    controllerGrid_->setHorizontalHeaderLabels({" No", " Device", " Dispaly Number"});
    controllerGrid_->verticalHeader()->hide();
    controllerGrid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    controllerGrid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    controllerGrid_->setSelectionMode(QAbstractItemView::SingleSelection);
    controllerGrid_->setTabKeyNavigation(false); // arrows move in the list, Tab leaves it
    const double dpi = page->logicalDpiX();
    int width = controllerGrid_->frameWidth() * 2;
    for (int c = 0; c < 3; ++c) {
        const int px = twipsToPixels(kColumnTwips[static_cast<std::size_t>(c)], dpi);
        controllerGrid_->setColumnWidth(c, px);
        width += px;
    }
    controllerGrid_->horizontalHeader()->setStretchLastSection(true);
    controllerGrid_->setMinimumWidth(width);
    connect(controllerGrid_, &QTableWidget::cellClicked, this, [this](int row, int) {
        listMousePressed_ = false;
        Grid1_Click(row);
    });
    connect(controllerGrid_, &QTableWidget::itemSelectionChanged, this,
            &FrmMain::listSelectionMoved);

    activeCaption_ = new QLabel("Active :");
    activeCaption_->setObjectName("lblActive");
    activeName_ = named(new QLineEdit, "Text1", "Active :");
    activeName_->setReadOnly(true);
    activeCaption_->setBuddy(activeName_);
    firmwareCaption_ = new QLabel("Firmware Version : ");
    firmwareCaption_->setObjectName("lblFirmwareCaption");
    // The identity text speaks itself, and the keyboard reaches it (it is selectable).
    identityLabel_ = named(new QLabel, "lblFirmware");
    identityLabel_->setAccessibleDescription("Firmware Version");
    identityLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    identityLabel_->setFocusPolicy(Qt::StrongFocus);

    fivePointButton_ = named(new QPushButton("5 Pts Calibration"), "cmd5pts", "5 Pts Calibration");
    ninePointButton_ = named(new QPushButton("9 Pts Calibration"), "cmd9pts", "9 Pts Calibration");
    releaseButton_ =
        named(new QPushButton("Release comport and Exit"), "Command5", "Release comport and Exit");
    connect(fivePointButton_, &QPushButton::clicked, this, &FrmMain::cmd5pts_Click);
    connect(ninePointButton_, &QPushButton::clicked, this, &FrmMain::cmd9pts_Click);
    connect(releaseButton_, &QPushButton::clicked, this, &FrmMain::Command5_Click);

    auto* grid = new QGridLayout(page);
    grid->addWidget(controllerTitle_, 0, 0, 1, 2);
    grid->addWidget(controllerGrid_, 1, 0, 1, 2);
    grid->addWidget(activeCaption_, 2, 0);
    grid->addWidget(activeName_, 2, 1);
    grid->addWidget(firmwareCaption_, 3, 0);
    grid->addWidget(identityLabel_, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(fivePointButton_);
    buttons->addWidget(ninePointButton_);
    buttons->addStretch(1);
    buttons->addWidget(releaseButton_);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

} // namespace kvr::panel
