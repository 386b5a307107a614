// The "Parameter" tab: touch sensitivity (sent to the controller at once), double click
// speed and area and the right-click response time (sent with "Confirm").

#include "gui/accessibility.h"
#include "gui/library_worker.h"
#include "gui/widgets.h"
#include "panel/frm_main.h"
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

// A library setter called until it succeeds, 200 ms after each call, 10 calls at most. The
// calls go to the library worker; the pause between them is the window's wait.
template <class F> bool setWithRetries(F&& setter) {
    for (int attempt = 0; attempt < kSettingAttempts; ++attempt) {
        const bool ok = gui::libraryCall(setter) != 0;
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
    sensitivityCaption_ = new QLabel("Touch Sensitivity");
    sensitivityCaption_->setObjectName("lblSensitivity");
    sensitivityList_ = gui::named(new QComboBox, "Combo1", "Touch Sensitivity");
    sensitivityCaption_->setBuddy(sensitivityList_);
    connect(sensitivityList_, &QComboBox::activated, this, &FrmMain::Combo1_Click);

    rightClickTimeRow_ = makeSlider("HScrRightClickTime", "Right Click Response Time", "Fast",
                                    "Slow", kRightClickTime.minimum, kRightClickTime.maximum,
                                    kRightClickTime.largeStep, kRightClickTime.initial);
    showRightClickTime(kRightClickTime.initial * kRightClickMsPerStep);
    connect(rightClickTimeRow_.bar, &QScrollBar::valueChanged, this,
            [this](int v) { showRightClickTime(v * kRightClickMsPerStep); });
    doubleClickAreaRow_ =
        makeSlider("HScroll2", "Double Click Area", "Small", "Large", kDoubleClickArea.minimum,
                   kDoubleClickArea.maximum, kDoubleClickArea.largeStep, kDoubleClickArea.initial);
    connect(doubleClickAreaRow_.bar, &QScrollBar::valueChanged, this,
            [this](int v) { doubleClickAreaRow_.value->setText(QString::number(v)); });
    doubleClickSpeedRow_ = makeSlider("HScroll1", "Double Click Speed", "Fast", "Slow",
                                      kDoubleClickSpeed.minimum, kDoubleClickSpeed.maximum,
                                      kDoubleClickSpeed.largeStep, kDoubleClickSpeed.initial);
    doubleClickSpeedRow_.value->setText(
        QString::number(kDoubleClickSpeed.initial * kSpeedLabelFactor));
    connect(doubleClickSpeedRow_.bar, &QScrollBar::valueChanged, this, [this](int v) {
        doubleClickSpeedRow_.value->setText(QString::number(v * kSpeedLabelFactor));
    });

    gui::tieValueLabel(rightClickTimeRow_.bar, rightClickTimeRow_.value, kRightClickMsPerStep, "ms");
    gui::tieValueLabel(doubleClickSpeedRow_.bar, doubleClickSpeedRow_.value, kSpeedLabelFactor, {});

    parameterConfirm_ = gui::named(new QPushButton("Confirm"), "Command6", "Confirm");
    connect(parameterConfirm_, &QPushButton::clicked, this, &FrmMain::Command6_Click);

    auto* grid = new QGridLayout(page);
    grid->addWidget(sensitivityCaption_, 0, 0, 1, 3);
    grid->addWidget(sensitivityList_, 1, 0, 1, 3);
    addSliderRow(grid, 2, rightClickTimeRow_);
    addSliderRow(grid, 4, doubleClickAreaRow_);
    addSliderRow(grid, 6, doubleClickSpeedRow_);
    grid->addWidget(parameterConfirm_, 8, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(9, 1);
    return page;
}

void FrmMain::showRightClickTime(int ms) {
    rightClickTimeMs_ = ms;
    rightClickTimeRow_.value->setText(QString::number(ms));
}

void FrmMain::Combo1_Click(int index) {
    // Sent only once the window is ready (not while the start-up reads the controller).
    if (!ready_ || index < 0) return;
    sendSensitivity(session_, index);
}

void FrmMain::Command6_Click() {
    if (busy_) return;
    busy_ = true;
    const std::int32_t ms = rightClickTimeMs_;
    const auto speed = static_cast<std::uint8_t>(doubleClickSpeedRow_.bar->value());
    const auto area = static_cast<std::uint8_t>(doubleClickAreaRow_.bar->value());
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
