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
        // HScra1_Change and its kind: the value label follows the slider; "Confirm" reads
        // the labels.
        connect(row.bar, &QScrollBar::valueChanged, row.value,
                [label = row.value](int v) { label->setText(QString::number(v)); });
        return row;
    };
    measTimeRow = slider("HScra1", "Meas. Time", "Short", "Long", kMeasTime);
    measDelayRow = slider("HScra2", "Meas. Delay", "Short", "Long", kMeasDelay);
    inFocusRow = slider("HScrInfocus", "In-Focus", "Small", "Large", kInFocus);
    outFocusRow = slider("HScrOutfocus", "Out-Focus", "Small", "Large", kOutFocus);
    accRow = slider("HScroll3", "Acc.Level", "Slow", "Fast", kAccLevel);
    noiseRow = slider("HScroll4", "A.D.N.L.", "Low", "Hight", kNoiseLevel);
    // Enabled once the firmware page has read them.
    for (SliderRow* row : {&inFocusRow, &outFocusRow, &accRow, &noiseRow})
        row->bar->setEnabled(false);

    chkAccLevel = named(new QCheckBox, "chkAccLevel", "Acc.Level enabled");
    chkNoiseLevel = named(new QCheckBox, "chkNoiseLevel", "A.D.N.L. enabled");
    chkAccLevel->hide(); // shown when address 98 was read
    chkNoiseLevel->hide();

    Command8 = named(new QPushButton("Confirm"), "Command8", "Confirm");
    connect(Command8, &QPushButton::clicked, this, &FrmMain::Command8_Click);

    auto* grid = new QGridLayout(page);
    int r = 0;
    for (const SliderRow* row :
         {&measTimeRow, &measDelayRow, &inFocusRow, &outFocusRow, &accRow, &noiseRow}) {
        grid->addWidget(row->caption, r, 1);
        grid->addWidget(row->low, r, 2, Qt::AlignRight);
        grid->addWidget(row->bar, r, 3);
        grid->addWidget(row->high, r, 4);
        grid->addWidget(row->value, r, 5);
        ++r;
    }
    grid->addWidget(chkAccLevel, 4, 0);
    grid->addWidget(chkNoiseLevel, 5, 0);
    grid->addWidget(Command8, r, 5);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(r + 1, 1);
    return page;
}

std::uint32_t FrmMain::firmwareNumber() const {
    return protocol::firmwareNumber(lblFirmware->text().toStdString());
}

void FrmMain::cmdInfo1() {
    lblFirmware->setText(QString::fromStdString(readIdentityText(session_)));
}

void FrmMain::readfw() {
    const FirmwarePage page =
        readFirmwarePage(session_, firmwareNumber(), savedReportMode_, [this](int level) {
            {
                const QSignalBlocker quiet(Combo1);
                Combo1->setCurrentIndex(level);
            }
            Combo1_Click(level);
        });
    applyFirmwarePage(page);
}

void FrmMain::applyFirmwarePage(const FirmwarePage& page) {
    SSTab1->setTabEnabled(Tab::Advance, page.recognised && advanceAllowed_);
    if (!page.recognised) return;
    if (page.measTime) setSliderValue(measTimeRow, *page.measTime);
    if (page.inFocus) {
        setSliderValue(inFocusRow, *page.inFocus);
        inFocusRow.bar->setEnabled(true);
    }
    if (page.outFocus) {
        kept03_ = page.kept03.value_or(std::string());
        setSliderValue(outFocusRow, *page.outFocus);
        outFocusRow.bar->setEnabled(true);
    }
    if (page.measDelay) {
        kept05_ = page.kept05.value_or(std::string());
        setSliderValue(measDelayRow, *page.measDelay);
    }
    if (!page.extendedDecided) return;
    chkAccLevel->hide();
    chkNoiseLevel->hide();
    const auto decide = [this](SliderRow& row, const std::optional<int>& value) {
        if (!value) return clearSlider(row);
        setSliderValue(row, *value);
        row.bar->setEnabled(true);
    };
    decide(noiseRow, page.noiseLevel);
    decide(accRow, page.accLevel);
    if (page.enableBoxes) {
        chkAccLevel->setChecked(page.enableBoxes->first);
        chkNoiseLevel->setChecked(page.enableBoxes->second);
        chkAccLevel->show();
        chkNoiseLevel->show();
    }
}

void FrmMain::Command8_Click() {
    AdvanceValues values;
    values.measTime = measTimeRow.value->text().toStdString();
    values.inFocus = inFocusRow.value->text().toStdString();
    values.outFocus = outFocusRow.value->text().toStdString();
    values.measDelay = measDelayRow.value->text().toStdString();
    values.noiseLevel = noiseRow.value->text().toStdString();
    values.accLevel = accRow.value->text().toStdString();
    values.kept03 = kept03_;
    values.kept05 = kept05_;
    values.accBox = chkAccLevel->isChecked();
    values.noiseBox = chkNoiseLevel->isChecked();
    values.firmwareNumber = firmwareNumber();
    writeAdvancePage(session_, values);
    showMessage(session_.lastWriteStatus != 0 ? msg::kUpdateOk : msg::kUpdateError);
}

} // namespace kvr::panel
