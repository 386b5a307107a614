// rdformad and Form_KeyDown: the customisation file applied to the window, and the hidden
// keys that unlock what it left disabled.

#include "panel/frm_main.h"
#include "panel/ranges.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>

namespace kvr::panel {

namespace {

void setControlCaption(QWidget* w, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
    else if (auto* frame = qobject_cast<QGroupBox*>(w))
        frame->setTitle(text);
    else
        return;
    // Screen readers follow the visible caption, except for labels that name a value.
    if (!qobject_cast<QLabel*>(w)) w->setAccessibleName(text);
}

// A colour number of the design platform: 0x00BBGGRR. Negative numbers (system colours) and
// numbers past 24 bits name no colour here.
std::optional<QColor> designColour(std::int64_t value) {
    if (value < 0 || value > 0xFFFFFF) return std::nullopt;
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

} // namespace

void FrmMain::rdformad() {
    customisation_ = Customisation::load();
    applyCustomisation();
    setCaption(" -0]  ");
}

void FrmMain::applyCustomisation() {
    const Customisation& c = customisation_;
    hiddenKeys_ = c.hiddenKeys();
    hiddenKeysActive_ = c.hiddenKeysActive();
    advanceAllowed_ = c.advanceAllowed();
    if (c.format() == CustomisationFormat::None) return;

    auto caption = [&](int item, QWidget* w) {
        if (const auto text = c.text(item)) setControlCaption(w, QString::fromStdString(*text));
    };
    auto enable = [&](int item, std::initializer_list<QWidget*> widgets) {
        if (const auto on = c.flag(item))
            for (QWidget* w : widgets)
                w->setEnabled(*on);
    };
    auto slider = [&](int item, SliderRow& row) {
        enable(item, {row.bar});
        caption(item + 1, row.caption);
        caption(item + 2, row.low);
        caption(item + 3, row.high);
    };
    auto label = [&](int item, QLabel* w, QPoint& twips) {
        caption(item, w);
        if (const auto colour = c.number(item + 1)) {
            if (const auto rgb = designColour(*colour)) {
                QPalette palette = w->palette();
                palette.setColor(QPalette::WindowText, *rgb);
                w->setPalette(palette);
            }
        }
        if (const auto size = c.number(item + 2); size && *size > 0 && *size < 200) {
            QFont font = w->font();
            font.setPointSize(static_cast<int>(*size));
            w->setFont(font);
        }
        if (const auto left = c.number(item + 3)) twips.setX(static_cast<int>(*left));
        if (const auto top = c.number(item + 4)) twips.setY(static_cast<int>(*top));
    };

    for (int tab = 0; tab < Tab::TabCount; ++tab) {
        if (const auto on = c.flag(1 + tab)) SSTab1->setTabEnabled(tab, *on);
        if (const auto text = c.text(7 + tab))
            SSTab1->setTabText(tab, QString::fromStdString(*text));
    }
    label(19, Label1, label1Twips_);
    label(24, Label2, label2Twips_);
    if (const auto top = c.number(31)) pictureTwips_.setY(static_cast<int>(*top));
    if (const auto left = c.number(32)) pictureTwips_.setX(static_cast<int>(*left));
    placeGeneralItems();

    enable(33, {cmd2pts});
    caption(34, cmd2pts);
    caption(35, cmdExit);
    enable(36, {Option3[0], Option3[1], Option3[2]});
    caption(37, fraTouchMode);
    for (int i = 0; i < 3; ++i)
        caption(38 + i, Option3[static_cast<std::size_t>(i)]);
    enable(41, {Option2[0], Option2[1], Option2[2], Option2[3]});
    caption(42, fraRotation);
    enable(43, {Check5});
    caption(44, Check5);
    enable(45, {Command17});
    caption(46, Command17);
    enable(47, {Check4});
    caption(48, Check4);
    enable(49, {Check3});
    caption(50, Check6);
    enable(51, {Check1});
    caption(52, Check1);
    enable(53, {Check2});
    caption(54, Check2);
    enable(55, {Combo1});
    for (int i = 0; i < 5 && i < Combo1->count(); ++i)
        if (const auto text = c.text(56 + i)) Combo1->setItemText(i, QString::fromStdString(*text));
    enable(61, {Command6});
    caption(62, lblSensitivity);
    caption(63, Command6);
    slider(64, rightClickRow);
    slider(68, areaRow);
    slider(72, speedRow);
    enable(76, {Command1});
    caption(77, lblDraw);
    caption(78, Command1);
    enable(79, {Command3});
    caption(80, lblReset);
    caption(81, Command3);
    enable(82, {Command2});
    caption(83, lblDefaults);
    caption(84, Command2);
    enable(85, {Command5});
    caption(86, Command5);
    caption(87, lblActive);
    caption(88, lblFirmwareCaption);
    enable(89, {cmd5pts});
    caption(90, cmd5pts);
    enable(91, {cmd9pts});
    caption(92, cmd9pts);
    caption(93, Command8);
    slider(94, measTimeRow);
    slider(98, measDelayRow);
    slider(102, inFocusRow);
    slider(106, outFocusRow);
    if (const auto title = c.text(113)) {
        dialogTitle_ = *title;
        caption(113, Label3);
    }

    // Format 32 and 3203.
    caption(121, fraRightClick);
    caption(122, fraSound);
    enable(123, {Option1, Option4});
    caption(124, Option1);
    caption(125, Option4);
    // Format 3203.
    caption(126, lblFrequency);
    caption(127, lblDuration);
    caption(128, Command9);
    caption(129, accRow.caption);
    caption(130, accRow.low);
    caption(131, accRow.high);
    enable(132, {accRow.bar});
    caption(133, noiseRow.caption);
    caption(134, noiseRow.low);
    caption(135, noiseRow.high);
    enable(136, {noiseRow.bar});
    caption(137, Command7);
    caption(138, Command19);
}

// ---- hidden keys ------------------------------------------------------------------------------

bool FrmMain::Form_KeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers == Qt::ControlModifier && key == Qt::Key_E) {
        cmdExit_Click(); // works whatever the customisation file says
        return true;
    }
    if (modifiers != Qt::AltModifier || key <= 0 || key > 0x7F) return false;
    const auto actions = hiddenKeyActions(static_cast<char>(key), hiddenKeys_, hiddenKeysActive_);
    for (const HiddenKeyAction action : actions)
        applyHiddenKey(action);
    return !actions.empty();
}

void FrmMain::applyHiddenKey(HiddenKeyAction action) {
    auto enable = [](std::initializer_list<QWidget*> widgets, bool on) {
        for (QWidget* w : widgets)
            w->setEnabled(on);
    };
    switch (action) {
    case HiddenKeyAction::UnlockAdvance:
        enable({Command8, measTimeRow.bar, measDelayRow.bar, inFocusRow.bar, outFocusRow.bar},
               true);
        break;
    case HiddenKeyAction::UnlockCalibration:
        enable({cmd5pts, cmd9pts}, true);
        Command5->setEnabled(false);
        break;
    case HiddenKeyAction::UnlockScaleOffset:
        cmd2pts->setEnabled(true);
        break;
    case HiddenKeyAction::UnlockSettings:
        enable({Option3[0], Option3[1], Option3[2], Option2[0], Option2[1], Option2[2], Option2[3],
                Check5, Check4, Check3, Check1, Check2},
               true);
        break;
    case HiddenKeyAction::UnlockParameter:
        enable({Command6, Combo1, rightClickRow.bar, speedRow.bar, areaRow.bar}, true);
        break;
    case HiddenKeyAction::UnlockTools:
        enable({Command1, Command2, Command3}, true);
        break;
    case HiddenKeyAction::Lock:
        enable({Command2, Command3, Command8, cmd5pts, cmd9pts, cmd2pts, Command6, speedRow.bar,
                areaRow.bar, rightClickRow.bar},
               false);
        break;
    }
}

} // namespace kvr::panel
