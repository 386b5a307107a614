// The "Advance" tab: the controller's own parameters, read by the firmware page and written
// by "Confirm"; and the identity text shown on the "Device" tab.

#include "gui/widgets.h"
#include "panel/frm_main.h"
#include "panel/ranges.h"
#include "protocol/replies.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>

namespace kvr::panel {

using gui::named;

QWidget* FrmMain::buildAdvanceTab() {
    auto* page = new QWidget;
    page->setObjectName("Advance");
    auto slider = [this](const char* name, const QString& caption, const QString& low,
                         const QString& high, const SliderRange& range) {
        SliderRow row = makeSlider(name, caption, low, high, range.minimum, range.maximum,
                                   range.largeStep, range.initial);
        // HScra1_Change and its kind: the value label follows the slider.
        connect(row.bar, &QScrollBar::valueChanged, row.value,
                [label = row.value](int v) { label->setText(QString::number(v)); });
        return row;
    };
    measTimeRow_ = slider("HScra1", "Meas. Time", "Short", "Long", kMeasTime);
    measDelayRow_ = slider("HScra2", "Meas. Delay", "Short", "Long", kMeasDelay);
    inFocusRow_ = slider("HScrInfocus", "In-Focus", "Small", "Large", kInFocus);
    outFocusRow_ = slider("HScrOutfocus", "Out-Focus", "Small", "Large", kOutFocus);
    accLevelRow_ = slider("HScroll3", "Acc.Level", "Slow", "Fast", kAccLevel);
    noiseLevelRow_ = slider("HScroll4", "A.D.N.L.", "Low", "Hight", kNoiseLevel);
    // The two level rows may be emptied by the firmware page; a move of their slider shows a
    // value again.
    accLevel_ = kAccLevel.initial;
    noiseLevel_ = kNoiseLevel.initial;
    connect(accLevelRow_.bar, &QScrollBar::valueChanged, this,
            [this](int v) { accLevel_ = static_cast<std::uint32_t>(v); });
    connect(noiseLevelRow_.bar, &QScrollBar::valueChanged, this,
            [this](int v) { noiseLevel_ = static_cast<std::uint32_t>(v); });
    // Enabled once the firmware page has read them.
    for (SliderRow* row : {&inFocusRow_, &outFocusRow_, &accLevelRow_, &noiseLevelRow_})
        row->bar->setEnabled(false);

    accLevelBox_ = named(new QCheckBox, "chkAccLevel", "Acc.Level enabled");
    noiseLevelBox_ = named(new QCheckBox, "chkNoiseLevel", "A.D.N.L. enabled");
    accLevelBox_->hide(); // shown when address 98 was read
    noiseLevelBox_->hide();

    advanceConfirm_ = named(new QPushButton("Confirm"), "Command8", "Confirm");
    connect(advanceConfirm_, &QPushButton::clicked, this, &FrmMain::Command8_Click);

    auto* grid = new QGridLayout(page);
    int r = 0;
    for (const SliderRow* row : {&measTimeRow_, &measDelayRow_, &inFocusRow_, &outFocusRow_,
                                 &accLevelRow_, &noiseLevelRow_}) {
        grid->addWidget(row->caption, r, 1);
        grid->addWidget(row->low, r, 2, Qt::AlignRight);
        grid->addWidget(row->bar, r, 3);
        grid->addWidget(row->high, r, 4);
        grid->addWidget(row->value, r, 5);
        ++r;
    }
    grid->addWidget(accLevelBox_, 4, 0);
    grid->addWidget(noiseLevelBox_, 5, 0);
    grid->addWidget(advanceConfirm_, r, 5);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(r + 1, 1);
    return page;
}

std::uint32_t FrmMain::firmwareNumber() const {
    return protocol::firmwareNumber(identityText_);
}

void FrmMain::cmdInfo1() {
    identityText_ = readIdentityText(session_);
    identityLabel_->setText(QString::fromStdString(identityText_));
}

void FrmMain::readfw() {
    const FirmwarePage page =
        readFirmwarePage(session_, firmwareNumber(), savedReportMode_, [this](int level) {
            {
                const QSignalBlocker quiet(sensitivityList_);
                sensitivityList_->setCurrentIndex(level);
            }
            Combo1_Click(level);
        });
    applyFirmwarePage(page);
}

void FrmMain::applyFirmwarePage(const FirmwarePage& page) {
    tabs_->setTabEnabled(Tab::Advance, page.recognised && advanceAllowed_);
    if (!page.recognised) return;
    if (page.measTime) setSliderValue(measTimeRow_, *page.measTime);
    if (page.inFocus) {
        setSliderValue(inFocusRow_, *page.inFocus);
        inFocusRow_.bar->setEnabled(true);
    }
    if (page.outFocus) {
        kept03_ = page.kept03.value_or(std::string());
        setSliderValue(outFocusRow_, *page.outFocus);
        outFocusRow_.bar->setEnabled(true);
    }
    if (page.measDelay) {
        kept05_ = page.kept05.value_or(std::string());
        setSliderValue(measDelayRow_, *page.measDelay);
    }
    if (!page.extendedDecided) return;
    accLevelBox_->hide();
    noiseLevelBox_->hide();
    const auto decide = [this](SliderRow& row, std::optional<std::uint32_t>& level,
                               const std::optional<int>& value) {
        if (!value) return clearLevelRow(row, level);
        setSliderValue(row, *value);
        level = static_cast<std::uint32_t>(row.bar->value());
        row.bar->setEnabled(true);
    };
    decide(noiseLevelRow_, noiseLevel_, page.noiseLevel);
    decide(accLevelRow_, accLevel_, page.accLevel);
    if (page.enableBoxes) {
        accLevelBox_->setChecked(page.enableBoxes->first);
        noiseLevelBox_->setChecked(page.enableBoxes->second);
        accLevelBox_->show();
        noiseLevelBox_->show();
    }
}

AdvanceValues FrmMain::advanceValues() const {
    const auto valueOf = [](const SliderRow& row) {
        return static_cast<std::uint32_t>(row.bar->value());
    };
    AdvanceValues values;
    values.measTime = valueOf(measTimeRow_);
    values.inFocus = valueOf(inFocusRow_);
    values.outFocus = valueOf(outFocusRow_);
    values.measDelay = valueOf(measDelayRow_);
    values.noiseLevel = noiseLevel_;
    values.accLevel = accLevel_;
    values.kept03 = kept03_;
    values.kept05 = kept05_;
    values.accBox = accLevelBox_->isChecked();
    values.noiseBox = noiseLevelBox_->isChecked();
    values.firmwareNumber = firmwareNumber();
    return values;
}

void FrmMain::Command8_Click() {
    writeAdvancePage(session_, advanceValues());
    showMessage(session_.lastWriteStatus != 0 ? msg::kUpdateOk : msg::kUpdateError);
}

} // namespace kvr::panel
