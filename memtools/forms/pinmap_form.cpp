#include "memtools/forms/pinmap_form.h"

#include "gui/controller_trouble.h"
#include "gui/library_worker.h"
#include "gui/accessibility.h"
#include "gui/widgets.h"
#include "memtools/controller_search.h"
#include "memtools/forms/tool_form.h"
#include "protocol/session.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kvr::memtools::forms {
namespace {

constexpr int kHeadingFontPt = 14;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

PinmapForm::PinmapForm(QWidget* parent) : QWidget(parent) {
    gui::named(this, "frmPinmap", QStringLiteral(" Pin Define (Touch Sensor)"));
    setWindowTitle(QStringLiteral(" Pin Define (Touch Sensor)"));

    auto* heading =
        gui::named(new QLabel(QStringLiteral("Touch Sensor Pin Definition"), this), "lblHeading");
    QFont headingFont = heading->font();
    headingFont.setPointSize(kHeadingFontPt);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    heading->setAlignment(Qt::AlignCenter);

    fiveWire_ = gui::named(new QRadioButton(QStringLiteral("5 Wire"), this), "opt5Wire",
                           QStringLiteral("5 Wire"));
    fourWire_ = gui::named(new QRadioButton(QStringLiteral("4Wire"), this), "opt4Wire",
                           QStringLiteral("4Wire"));
    pin_ = gui::named(new QLabel(QStringLiteral("Pin #1"), this), "lblPin");
    choices_ = gui::named(new QComboBox(this), "Combo1", QStringLiteral("Electrode"));
    choices_->setMinimumWidth(120);
    set_ =
        gui::named(new QPushButton(QStringLiteral("Set"), this), "cmdSet", QStringLiteral("Set"));
    confirm_ = gui::named(new QPushButton(QStringLiteral("Confirm"), this), "cmdConfirm",
                          QStringLiteral("Confirm"));
    cancel_ = gui::named(new QPushButton(QStringLiteral("Cancel"), this), "cmdCancel",
                         QStringLiteral("Cancel"));
    result_ = gui::named(new QListWidget(this), "List1", QStringLiteral("Pin assignments"));
    result_->setFixedHeight(92);
    code_ = gui::named(new QLabel(this), "lblCode", QStringLiteral("Wiring code"));

    auto* kinds = new QHBoxLayout;
    kinds->addWidget(fiveWire_);
    kinds->addWidget(fourWire_);
    kinds->addStretch(1);
    auto* entryRow = new QHBoxLayout;
    entryRow->addWidget(pin_);
    entryRow->addWidget(choices_, 1);
    entryRow->addWidget(set_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(confirm_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(gui::scrollingContent(this));
    layout->setContentsMargins(20, 14, 20, 16);
    layout->addWidget(heading);
    layout->addLayout(kinds);
    layout->addLayout(entryRow);
    layout->addWidget(result_);
    layout->addWidget(code_);
    layout->addStretch(1);
    layout->addLayout(buttons);
    gui::fitToScreen(this, QSize(400, 330), false);

    gui::onChecked(fiveWire_, this, [this] { sensorKindChosen(); });
    gui::onChecked(fourWire_, this, [this] { sensorKindChosen(); });
    connect(set_, &QPushButton::clicked, this, &PinmapForm::setClicked);
    connect(confirm_, &QPushButton::clicked, this, &PinmapForm::confirmClicked);
    connect(cancel_, &QPushButton::clicked, this, &PinmapForm::cancelClicked);
    // The form sees the keys of its controls first, so the A key works wherever the focus is.
    for (QWidget* control : findChildren<QWidget*>())
        control->installEventFilter(this);
}

bool PinmapForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) keyDown(static_cast<QKeyEvent*>(event)->key());
    return QWidget::eventFilter(watched, event);
}

void PinmapForm::keyPressEvent(QKeyEvent* event) {
    keyDown(event->key());
    QWidget::keyPressEvent(event);
}

void PinmapForm::keyDown(int key) {
    if (key == Qt::Key_A) code_->show();
}

void PinmapForm::start() {
    fiveWire_->setChecked(true);
    vlbloff();
    lblclr();
    busy_ = true;
    getctrname();
    busy_ = false;
    show();
}

void PinmapForm::sensorKindChosen() {
    lblclr();
}

void PinmapForm::setClicked() {
    if (choices_->currentIndex() < 0 || entry_.finished()) return;
    entry_.assign(choices_->currentText().toStdString());
    choices_->removeItem(choices_->currentIndex());
    if (choices_->count() > 0) choices_->setCurrentIndex(0);
    if (entry_.finished()) {
        finishpin();
        return;
    }
    pin_->setText(qs(entry_.pinLabel()));
}

void PinmapForm::confirmClicked() {
    if (busy_ || ended_ || !entry_.finished()) return;
    if (!toolQuestion("Comfirm to Write!")) {
        end(NotWritten);
        return;
    }
    busy_ = true;
    const PinWriteOutcome outcome = gui::libraryCall([name = currentName_, code = entry_.code()] {
        protocol::ControllerSession controller(name);
        return writeWiringCode(controller, code);
    });
    busy_ = false;
    switch (outcome) {
    case PinWriteOutcome::ReadFailed:
        // Nothing written: back to the window.
        toolMessage(gui::explainControllerTrouble("Write EEP error!!", currentName_));
        return;
    case PinWriteOutcome::WriteRefused:
        toolMessage(gui::explainControllerTrouble(
            "Write failed!! The pin definition was not written.", currentName_));
        end(WriteError);
        return;
    case PinWriteOutcome::RestoreRefused:
        toolMessage(gui::explainControllerTrouble(
            "Write failed!! The pin definition was written, but the controller's defaults "
            "were not restored, so it is not in effect yet.",
            currentName_));
        end(WriteError);
        return;
    case PinWriteOutcome::Written:
        toolMessage("Write OK");
        end(Written);
        return;
    }
}

void PinmapForm::cancelClicked() {
    if (busy_ || ended_) return;
    if (!result_->isHidden()) {
        fiveWire_->setChecked(true);
        lblclr();
        return;
    }
    end(NotWritten);
}

void PinmapForm::end(int exitCode) {
    ended_ = true;
    hide();
    Q_EMIT ended(exitCode);
}

void PinmapForm::lblclr() {
    entry_.reset(fourWire_->isChecked());
    code_->clear();
    cb1add();
    pin_->setText(qs(entry_.pinLabel()));
    // A fresh entry also leaves the finished state, so a code worked out for the other
    // sensor kind can never be confirmed.
    result_->hide();
    set_->setEnabled(true);
    confirm_->setEnabled(false);
}

void PinmapForm::cb1add() {
    choices_->clear();
    for (const std::string& choice : entry_.remainingChoices())
        choices_->addItem(qs(choice));
    choices_->setCurrentIndex(0);
}

void PinmapForm::finishpin() {
    result_->clear();
    result_->show();
    for (const std::string& assignment : entry_.assignments())
        result_->addItem(qs(assignment));
    code_->setText(qs(entry_.codeLabel()));
    confirm_->setEnabled(true);
    set_->setEnabled(false);
}

void PinmapForm::vlbloff() {
    code_->hide();
}

void PinmapForm::getctrname() {
    const SearchResult found = gui::libraryCall([] { return searchController(kPinmapSearch); });
    currentName_ = found.current;
    if (found.answered) return;
    const std::string cause = gui::controllerTroubleCause();
    gui::reportControllerTrouble(cause);
    // The window stays usable.
    if (found.count == 0) toolMessage(gui::withCause("No device was found ! ", cause));
}

void PinmapForm::closeEvent(QCloseEvent* event) {
    if (busy_) {
        event->ignore(); // the word at 9E is being written
        return;
    }
    event->accept();
    if (!ended_) end(NotWritten);
}

} // namespace kvr::memtools::forms
