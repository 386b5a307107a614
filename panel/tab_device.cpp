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
    Label3 = named(new QLabel("Touch Controller"), "Label3", "Touch Controller");

    Grid1 = named(new QTableWidget(kListRows, 3), "Grid1", "controllers");
    Grid1->setHorizontalHeaderLabels({" No", " Device", " Dispaly Number"});
    Grid1->verticalHeader()->hide();
    Grid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid1->setSelectionMode(QAbstractItemView::SingleSelection);
    const double dpi = page->logicalDpiX();
    int width = Grid1->frameWidth() * 2;
    for (int c = 0; c < 3; ++c) {
        const int px = twipsToPixels(kColumnTwips[static_cast<std::size_t>(c)], dpi);
        Grid1->setColumnWidth(c, px);
        width += px;
    }
    Grid1->horizontalHeader()->setStretchLastSection(true);
    Grid1->setMinimumWidth(width);
    connect(Grid1, &QTableWidget::cellClicked, this, [this](int row, int) { Grid1_Click(row); });

    lblActive = new QLabel("Active :");
    lblActive->setObjectName("lblActive");
    Text1 = named(new QLineEdit, "Text1", "Active :");
    Text1->setReadOnly(true);
    lblActive->setBuddy(Text1);
    lblFirmwareCaption = new QLabel("Firmware Version : ");
    lblFirmwareCaption->setObjectName("lblFirmwareCaption");
    lblFirmware = named(new QLabel, "lblFirmware", "Firmware Version : ");

    cmd5pts = named(new QPushButton("5 Pts Calibration"), "cmd5pts", "5 Pts Calibration");
    cmd9pts = named(new QPushButton("9 Pts Calibration"), "cmd9pts", "9 Pts Calibration");
    Command5 =
        named(new QPushButton("Release comport and Exit"), "Command5", "Release comport and Exit");
    connect(cmd5pts, &QPushButton::clicked, this, &FrmMain::cmd5pts_Click);
    connect(cmd9pts, &QPushButton::clicked, this, &FrmMain::cmd9pts_Click);
    connect(Command5, &QPushButton::clicked, this, &FrmMain::Command5_Click);

    auto* grid = new QGridLayout(page);
    grid->addWidget(Label3, 0, 0, 1, 2);
    grid->addWidget(Grid1, 1, 0, 1, 2);
    grid->addWidget(lblActive, 2, 0);
    grid->addWidget(Text1, 2, 1);
    grid->addWidget(lblFirmwareCaption, 3, 0);
    grid->addWidget(lblFirmware, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmd5pts);
    buttons->addWidget(cmd9pts);
    buttons->addStretch(1);
    buttons->addWidget(Command5);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

} // namespace kvr::panel
