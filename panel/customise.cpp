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
#include <algorithm>

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

// A position of the "General" tab's items, in twips, kept on the page: a file may hold any
// number, but an item placed beyond 9000 twips (600 pixels at 96 dpi) or left of the page
// would stretch the window past any screen or hide the item.
constexpr std::int64_t kMaxItemTwips = 9000;
int pageTwips(std::int64_t twips) {
    return static_cast<int>(std::clamp<std::int64_t>(twips, 0, kMaxItemTwips));
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
        if (const auto left = c.number(item + 3)) twips.setX(pageTwips(*left));
        if (const auto top = c.number(item + 4)) twips.setY(pageTwips(*top));
    };

    for (int tab = 0; tab < Tab::TabCount; ++tab) {
        if (const auto on = c.flag(1 + tab)) tabs_->setTabEnabled(tab, *on);
        if (const auto text = c.text(7 + tab))
            tabs_->setTabText(tab, QString::fromStdString(*text));
    }
    label(19, titleLabel_, label1Twips_);
    label(24, secondLabel_, label2Twips_);
    if (const auto top = c.number(31)) pictureTwips_.setY(pageTwips(*top));
    if (const auto left = c.number(32)) pictureTwips_.setX(pageTwips(*left));
    placeGeneralItems();

    enable(33, {scaleOffsetButton_});
    caption(34, scaleOffsetButton_);
    caption(35, exitButton_);
    enable(36, {touchModeOptions_[0], touchModeOptions_[1], touchModeOptions_[2]});
    caption(37, touchModeFrame_);
    for (int i = 0; i < 3; ++i)
        caption(38 + i, touchModeOptions_[static_cast<std::size_t>(i)]);
    enable(41,
           {rotationOptions_[0], rotationOptions_[1], rotationOptions_[2], rotationOptions_[3]});
    caption(42, rotationFrame_);
    enable(43, {disableTouch_});
    caption(44, disableTouch_);
    enable(45, {hideCursorButton_});
    caption(46, hideCursorButton_);
    enable(47, {autoRightClick_});
    caption(48, autoRightClick_);
    enable(49, {doubleClick_});
    caption(50, manualRightClick_);
    enable(51, {upSound_});
    caption(52, upSound_);
    enable(53, {downSound_});
    caption(54, downSound_);
    enable(55, {sensitivityList_});
    for (int i = 0; i < 5 && i < sensitivityList_->count(); ++i)
        if (const auto text = c.text(56 + i))
            sensitivityList_->setItemText(i, QString::fromStdString(*text));
    enable(61, {parameterConfirm_});
    caption(62, sensitivityCaption_);
    caption(63, parameterConfirm_);
    slider(64, rightClickTimeRow_);
    slider(68, doubleClickAreaRow_);
    slider(72, doubleClickSpeedRow_);
    enable(76, {drawButton_});
    caption(77, drawCaption_);
    caption(78, drawButton_);
    enable(79, {resetButton_});
    caption(80, resetCaption_);
    caption(81, resetButton_);
    enable(82, {defaultsButton_});
    caption(83, defaultsCaption_);
    caption(84, defaultsButton_);
    enable(85, {releaseButton_});
    caption(86, releaseButton_);
    caption(87, activeCaption_);
    caption(88, firmwareCaption_);
    enable(89, {fivePointButton_});
    caption(90, fivePointButton_);
    enable(91, {ninePointButton_});
    caption(92, ninePointButton_);
    caption(93, advanceConfirm_);
    slider(94, measTimeRow_);
    slider(98, measDelayRow_);
    slider(102, inFocusRow_);
    slider(106, outFocusRow_);
    if (const auto title = c.text(113)) {
        dialogTitle_ = *title;
        caption(113, controllerTitle_);
    }

    // Format 32 and 3203.
    caption(121, rightClickFrame_);
    caption(122, soundFrame_);
    enable(123, {audioOption_, buzzerOption_});
    caption(124, audioOption_);
    caption(125, buzzerOption_);
    // Format 3203.
    caption(126, frequencyCaption_);
    caption(127, durationCaption_);
    caption(128, buzzerSetButton_);
    caption(129, accLevelRow_.caption);
    caption(130, accLevelRow_.low);
    caption(131, accLevelRow_.high);
    enable(132, {accLevelRow_.bar});
    caption(133, noiseLevelRow_.caption);
    caption(134, noiseLevelRow_.low);
    caption(135, noiseLevelRow_.high);
    enable(136, {noiseLevelRow_.bar});
    caption(137, backupButton_);
    caption(138, restoreButton_);
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
        enable({advanceConfirm_, measTimeRow_.bar, measDelayRow_.bar, inFocusRow_.bar,
                outFocusRow_.bar},
               true);
        break;
    case HiddenKeyAction::UnlockCalibration:
        enable({fivePointButton_, ninePointButton_}, true);
        releaseButton_->setEnabled(false);
        break;
    case HiddenKeyAction::UnlockScaleOffset:
        scaleOffsetButton_->setEnabled(true);
        break;
    case HiddenKeyAction::UnlockSettings:
        enable({touchModeOptions_[0], touchModeOptions_[1], touchModeOptions_[2],
                rotationOptions_[0], rotationOptions_[1], rotationOptions_[2], rotationOptions_[3],
                disableTouch_, autoRightClick_, doubleClick_, upSound_, downSound_},
               true);
        break;
    case HiddenKeyAction::UnlockParameter:
        enable({parameterConfirm_, sensitivityList_, rightClickTimeRow_.bar,
                doubleClickSpeedRow_.bar, doubleClickAreaRow_.bar},
               true);
        break;
    case HiddenKeyAction::UnlockTools:
        enable({drawButton_, defaultsButton_, resetButton_}, true);
        break;
    case HiddenKeyAction::Lock:
        enable({defaultsButton_, resetButton_, advanceConfirm_, fivePointButton_, ninePointButton_,
                scaleOffsetButton_, parameterConfirm_, doubleClickSpeedRow_.bar,
                doubleClickAreaRow_.bar, rightClickTimeRow_.bar},
               false);
        break;
    }
}

} // namespace kvr::panel
