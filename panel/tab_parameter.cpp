// The "Parameter" tab: touch sensitivity (sent to the controller at once), double click
// speed and area and the right-click response time (sent with "Confirm").

#include "gui/widgets.h"
#include "panel/frm_main.h"
#include "panel/library.h"
#include "panel/ranges.h"
#include "platform/desktop/message_box.h"
#include "tsapi/tsapi.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

namespace kvr::panel {

namespace {

constexpr int kSettingAttempts = 10;
constexpr std::uint16_t kSettingRetryMs = 200;

// A library setter called until it succeeds, 200 ms after each call, 10 calls at most.
template <class F> bool setWithRetries(F&& setter) {
    for (int attempt = 0; attempt < kSettingAttempts; ++attempt) {
        const bool ok = lib::aside(setter) != 0;
        ControllerLink::wait(kSettingRetryMs);
        if (ok) return true;
    }
    return false;
}

void addSliderRow(QGridLayout* grid, int row, const SliderRow& slider) {
    grid->addWidget(slider.caption, row, 0, 1, 3);
    grid->addWidget(slider.low, row + 1, 0);
    grid->addWidget(slider.bar, row + 1, 1);
    grid->addWidget(slider.high, row + 1, 2);
    grid->addWidget(slider.value, row + 1, 3);
}

} // namespace

QWidget* FrmMain::buildParameterTab() {
    auto* page = new QWidget;
    page->setObjectName("Parameter");
    lblSensitivity = new QLabel("Touch Sensitivity");
    lblSensitivity->setObjectName("lblSensitivity");
    Combo1 = gui::named(new QComboBox, "Combo1", "Touch Sensitivity");
    lblSensitivity->setBuddy(Combo1);
    connect(Combo1, &QComboBox::activated, this, &FrmMain::Combo1_Click);

    rightClickRow = makeSlider("HScrRightClickTime", "Right Click Response Time", "Fast", "Slow",
                               kRightClickTime.minimum, kRightClickTime.maximum,
                               kRightClickTime.largeStep, kRightClickTime.initial);
    rightClickRow.value->setText(QString::number(kRightClickTime.initial * kRightClickMsPerStep));
    connect(rightClickRow.bar, &QScrollBar::valueChanged, this, [this](int v) {
        rightClickRow.value->setText(QString::number(v * kRightClickMsPerStep));
    });
    areaRow =
        makeSlider("HScroll2", "Double Click Area", "Small", "Large", kDoubleClickArea.minimum,
                   kDoubleClickArea.maximum, kDoubleClickArea.largeStep, kDoubleClickArea.initial);
    connect(areaRow.bar, &QScrollBar::valueChanged, this,
            [this](int v) { areaRow.value->setText(QString::number(v)); });
    speedRow = makeSlider("HScroll1", "Double Click Speed", "Fast", "Slow",
                          kDoubleClickSpeed.minimum, kDoubleClickSpeed.maximum,
                          kDoubleClickSpeed.largeStep, kDoubleClickSpeed.initial);
    speedRow.value->setText(QString::number(kDoubleClickSpeed.initial * kSpeedLabelFactor));
    connect(speedRow.bar, &QScrollBar::valueChanged, this,
            [this](int v) { speedRow.value->setText(QString::number(v * kSpeedLabelFactor)); });

    Command6 = gui::named(new QPushButton("Confirm"), "Command6", "Confirm");
    connect(Command6, &QPushButton::clicked, this, &FrmMain::Command6_Click);

    auto* grid = new QGridLayout(page);
    grid->addWidget(lblSensitivity, 0, 0, 1, 3);
    grid->addWidget(Combo1, 1, 0, 1, 3);
    addSliderRow(grid, 2, rightClickRow);
    addSliderRow(grid, 4, areaRow);
    addSliderRow(grid, 6, speedRow);
    grid->addWidget(Command6, 8, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(9, 1);
    return page;
}

void FrmMain::Combo1_Click(int index) {
    // Sent only once the window is ready (not while the start-up reads the controller).
    if (!ready_ || index < 0) return;
    sendSensitivity(session_, index);
}

void FrmMain::Command6_Click() {
    if (busy_) return;
    busy_ = true;
    const std::int32_t ms = rightClickRow.value->text().toInt();
    const auto speed = static_cast<std::uint8_t>(speedRow.bar->value());
    const auto area = static_cast<std::uint8_t>(areaRow.bar->value());
    bool ok = false;
    {
        ControllerLink link(session_);
        const std::int32_t h = link.handle();
        ok = setWithRetries([=] { return SetRightClickTime(h, ms); }) &&
             setWithRetries([=] { return SetDoubleClickSpeed(h, speed); }) &&
             setWithRetries([=] { return SetDoubleClickArea(h, area); });
    }
    showMessage(ok ? msg::kUpdateOk : msg::kUpdateError);
    session_.settingsChanged = true;
    busy_ = false;
}

} // namespace kvr::panel
