// frmMain: building the window, start-up, the controller list, the ready delay and the exits.

#include "panel/frm_main.h"

#include "gui/accessibility.h"
#include "gui/controller_trouble.h"
#include "gui/library_worker.h"
#include "gui/widgets.h"
#include "panel/ranges.h"
#include "platform/common/paths.h"
#include "platform/desktop/message_box.h"
#include "protocol/replies.h"
#include "tsapi/tsapi.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <system_error>

namespace kvr::panel {

using gui::named;

namespace {

constexpr int kReadyDelayMs = 1000;
constexpr int kCaptionPadding = 30; // blanks between the dialog title and the version

} // namespace

FrmMain::FrmMain(QWidget* parent) : QWidget(parent) {
    setObjectName("frmMain");
    setAccessibleName("Tactivo");
    buildWindow();
    readyTimer_ = new QTimer(this);
    readyTimer_->setObjectName("Timer1");
    readyTimer_->setSingleShot(true);
    readyTimer_->setInterval(kReadyDelayMs);
    connect(readyTimer_, &QTimer::timeout, this, &FrmMain::Timer1_Timer);
    qApp->installEventFilter(this);
}

FrmMain::~FrmMain() {
    qApp->removeEventFilter(this);
}

// ---- building ---------------------------------------------------------------------------------

void FrmMain::buildWindow() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    content_ = gui::scrollingContent(this);
    tabs_ = named(new QTabWidget(content_), "SSTab1");
    tabs_->addTab(buildGeneralTab(), "General");
    tabs_->addTab(buildSettingsTab(), "Settings");
    tabs_->addTab(buildParameterTab(), "Parameter");
    tabs_->addTab(buildToolsTab(), "Tools");
    tabs_->addTab(buildDeviceTab(), "Device");
    tabs_->addTab(buildAdvanceTab(), "Advance");
    tabs_->setTabEnabled(Tab::Advance, false); // until the firmware page recognises the unit
    connect(tabs_, &QTabWidget::currentChanged, this, &FrmMain::SSTab1_Click);

    scaleOffsetButton_ =
        named(new QPushButton("Scale / Offset ", content_), "cmd2pts", "Scale / Offset ");
    exitButton_ = named(new QPushButton("Exit", content_), "cmdExit", "Exit");
    connect(scaleOffsetButton_, &QPushButton::clicked, this, &FrmMain::cmd2pts_Click);
    connect(exitButton_, &QPushButton::clicked, this, &FrmMain::cmdExit_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(scaleOffsetButton_);
    buttons->addStretch(1);
    buttons->addWidget(exitButton_);
    auto* layout = new QVBoxLayout(content_);
    layout->addWidget(tabs_, 1);
    layout->addLayout(buttons);
}

SliderRow FrmMain::makeSlider(const char* name, const QString& caption, const QString& low,
                              const QString& high, int minimum, int maximum, int largeStep,
                              int initial) {
    SliderRow row;
    row.caption = new QLabel(caption);
    row.caption->setObjectName(QString::fromLatin1(name) + "Caption");
    row.low = new QLabel(low);
    row.low->setObjectName(QString::fromLatin1(name) + "Low");
    row.high = new QLabel(high);
    row.high->setObjectName(QString::fromLatin1(name) + "High");
    row.bar = named(new QScrollBar(Qt::Horizontal), name, caption);
    row.bar->setRange(minimum, maximum);
    row.bar->setPageStep(largeStep);
    row.bar->setSingleStep(1);
    row.bar->setValue(initial);
    row.bar->setMinimumWidth(160);
    row.value = new QLabel(QString::number(initial));
    row.value->setObjectName(QString::fromLatin1(name) + "Value");
    row.value->setMinimumWidth(row.value->fontMetrics().horizontalAdvance("00000"));
    row.caption->setBuddy(row.bar);
    gui::tieValueLabel(row.bar, row.value, 1, {});
    return row;
}

void FrmMain::setSliderValue(SliderRow& row, int value) {
    row.bar->setValue(value);
    row.value->setText(QString::number(row.bar->value()));
}

void FrmMain::clearLevelRow(SliderRow& row, std::optional<std::uint32_t>& level) {
    row.bar->setEnabled(false);
    row.value->clear();
    level.reset();
}

// ---- start-up -----------------------------------------------------------------------------

bool FrmMain::Form_Load() {
    // A second copy goes on only where "okokok.ok" allows it.
    if (desktop::findAtom(kInstanceAtom)) {
        std::error_code ec;
        if (!std::filesystem::exists(paths::findConfigFile(kSecondCopyFile), ec)) return false;
    } else {
        instanceAtom_ = desktop::GlobalAtom::add(kInstanceAtom);
    }

    placeHelpFrame();
    messages_.loadMessages();

    defaultsButton_->setEnabled(false); // the customisation file or a hidden key enables them
    resetButton_->setEnabled(false);
    ready_ = false;

    tabs_->setCurrentIndex(Tab::General);
    tabs_->setFocus(); // the keyboard starts on the tabs (Ctrl+Tab walks them)
    infoFrame_->move(twipsToPixels(480, logicalDpiX()), infoFrame_->y());
    loadPictures();

    sensitivityList_->clear();
    sensitivityList_->addItems(
        {"Low sensitive", "Normal touch", "More sensitive", "Very sensitive", "Most sensitive"});
    sensitivityList_->setCurrentIndex(0); // nothing is sent: not ready yet

    rdformad();
    // The design size where the screen has room for it; else the pages scroll.
    content_->adjustSize();
    gui::fitToScreen(this, content_->sizeHint().expandedTo(content_->minimumSizeHint()));
    return true;
}

void FrmMain::startUp() {
    getctrname();
    showSelectedController();
    readset();
    setCaption(" -11]  ");
    readfw();
    if (firstStartBackupNeeded()) rdeep(false);
    activated_ = true;
    startUpDone_ = true;
    readyTimer_->start();
    Q_EMIT startUpFinished();
}

void FrmMain::loadPictures() {
    std::error_code ec;
    const auto logo = paths::findConfigFile("pic01.jpg");
    if (std::filesystem::exists(logo, ec)) {
        QPixmap picture(QString::fromStdString(logo.string()));
        if (!picture.isNull()) {
            logo_->setPixmap(picture);
            logo_->adjustSize();
        }
    }
    for (const char* name : {"orvell.ico", "Orvell.ico"}) {
        const auto icon = paths::findConfigFile(name);
        if (!std::filesystem::exists(icon, ec)) continue;
        const QIcon loaded(QString::fromStdString(icon.string()));
        if (loaded.isNull()) continue;
        setWindowIcon(loaded);
        pictureBox_->setPixmap(loaded.pixmap(48, 48));
        pictureBox_->adjustSize();
        pictureBox_->show();
        break;
    }
    placeGeneralItems();
}

void FrmMain::setCaption(const char* ending) {
    // The window keeps the program's name when the customisation file gives no title.
    const std::string title = dialogTitle_.empty() ? std::string("Tactivo") : dialogTitle_;
    setWindowTitle(QString::fromStdString(title + std::string(kCaptionPadding, ' ') + "[ " +
                                          kVersionText + ending));
}

void FrmMain::showSelectedController() {
    activeName_->setText(QString::fromStdString(session_.selectedName));
    releaseButton_->setVisible(session_.selectedName.find("RS") != std::string::npos);
}

// ---- controller list ----------------------------------------------------------------------

void FrmMain::getctrname() {
    list_ = enumerateControllers();
    const bool answered = probeControllers(list_, session_);
    fillControllerGrid(readDisplayColumn(list_, session_));
    troubleCause_.clear();
    if (answered) return;
    // Why no controller can be used: on stderr always, under the box's text when it shows.
    troubleCause_ = gui::controllerTroubleCause();
    gui::reportControllerTrouble(troubleCause_);
    if (list_.count == 0)
        desktop::messageBox(gui::withCause(messages_[msg::kNoDevice], troubleCause_), dialogTitle_,
                            desktop::MB_OK);
}

std::string FrmMain::troubleText(std::string_view text) const {
    // The search just said why on stderr; a step after it only adds the cause to its box.
    if (!troubleCause_.empty()) return gui::withCause(text, troubleCause_);
    return gui::explainControllerTrouble(text, session_.selectedName);
}

void FrmMain::fillControllerGrid(const std::vector<std::string>& displayColumn) {
    const QScopedValueRollback<bool> inCode(listHighlightInCode_, true);
    controllerGrid_->clearContents();
    controllerGrid_->setRowCount(std::max(9, list_.listed()));
    for (int i = 1; i <= list_.listed(); ++i) {
        const auto slot = static_cast<std::size_t>(i);
        controllerGrid_->setItem(i - 1, 0, new QTableWidgetItem(QString::number(i)));
        controllerGrid_->setItem(i - 1, 1,
                                 new QTableWidgetItem(QString::fromStdString(list_.names[slot])));
        if (slot - 1 < displayColumn.size())
            controllerGrid_->setItem(
                i - 1, 2, new QTableWidgetItem(QString::fromStdString(displayColumn[slot - 1])));
    }
    if (list_.selected > 0) controllerGrid_->selectRow(list_.selected - 1);
}

void FrmMain::highlightRow(int row) {
    const QScopedValueRollback<bool> inCode(listHighlightInCode_, true);
    if (row >= 0)
        controllerGrid_->selectRow(row);
    else
        controllerGrid_->clearSelection();
}

void FrmMain::listSelectionMoved() {
    if (listHighlightInCode_ || listMousePressed_) return; // the click that follows selects
    const QList<QTableWidgetSelectionRange> ranges = controllerGrid_->selectedRanges();
    if (ranges.size() != 1) return;
    const int row = ranges.front().topRow();
    if (row == list_.selected - 1) return;
    // After the view has finished moving its highlight; a selection already under way keeps
    // its row highlighted.
    QTimer::singleShot(0, this, [this, row] {
        if (busy_)
            highlightRow(list_.selected - 1);
        else
            Grid1_Click(row);
    });
}

void FrmMain::Grid1_Click(int row) {
    const int slot = row + 1;
    getctrname();
    if (slot < 1 || slot > list_.listed()) return;
    const QString name =
        QString::fromStdString(list_.names[static_cast<std::size_t>(slot)]).trimmed();
    if (name.isEmpty() || busy_) return;
    busy_ = true; // a second click while the pages are reread waits for this one
    list_.selected = slot;
    session_.selectedName = name.toStdString();
    highlightRow(row);
    showSelectedController();
    bool opened = false;
    {
        ControllerLink link(session_);
        opened = link.ok();
    }
    if (!opened) {
        desktop::messageBox(troubleText(messages_[msg::kOpenError]), dialogTitle_, desktop::MB_OK);
    } else {
        readset(); // ends with the identity text
        readfw();
    }
    busy_ = false;
}

void FrmMain::Timer1_Timer() {
    ready_ = true;
    readyTimer_->stop();
}

// ---- exits --------------------------------------------------------------------------------

void FrmMain::Form_Terminate() {
    if (terminating_) return;
    if (gui::insideWait()) {
        // A procedure waits for the controller: it ends first, then the exit sequence runs.
        hide();
        gui::afterWaits(this, [this] { Form_Terminate(); });
        return;
    }
    terminating_ = true;
    hide();
    sendExitCommands(session_);
    if (instanceAtom_) instanceAtom_->remove();
    instanceAtom_.reset();
    Q_EMIT terminated();
}

void FrmMain::cmdExit_Click() {
    Form_Terminate();
}

void FrmMain::Command5_Click() {
    const std::string text =
        messages_[msg::kReleaseQuestion] + "\n" + messages_[msg::kReleaseReconnect];
    if (desktop::messageBox(text, messages_[msg::kReleaseTitle], desktop::MB_YESNO) !=
        desktop::IDYES)
        return;
    releasePort(session_);
    Form_Terminate();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    // The window goes when the exit sequence has run (at once, or after the procedure that
    // is waiting for the controller).
    event->ignore();
    Form_Terminate();
}

// ---- window events ------------------------------------------------------------------------

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == controllerGrid_->viewport()) {
        // A mouse press moves the highlight before the click is known; the click selects.
        if (event->type() == QEvent::MouseButtonPress) listMousePressed_ = true;
        if (event->type() == QEvent::MouseButtonRelease)
            QTimer::singleShot(0, this, [this] { listMousePressed_ = false; });
    }
    if (watched == controllerGrid_ && event->type() == QEvent::KeyPress) {
        // Enter or Space on the list: the click on the highlighted row.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            if (controllerGrid_->currentRow() >= 0) Grid1_Click(controllerGrid_->currentRow());
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat()) {
            const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
            if (Form_KeyDown(key->key(), modifiers)) return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FrmMain::changeEvent(QEvent* event) {
    // Form_Resize: the window stays in its normal state (no minimise, no maximise).
    if (event->type() == QEvent::WindowStateChange &&
        (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        QTimer::singleShot(0, this, [this] { setWindowState(Qt::WindowNoState); });
    QWidget::changeEvent(event);
}

// ---- messages -----------------------------------------------------------------------------

void FrmMain::showMessage(std::size_t slot, std::uint32_t type) {
    desktop::messageBox(messages_[slot], dialogTitle_, type);
}

int FrmMain::ask(std::size_t slot, std::uint32_t type) {
    return desktop::messageBox(messages_[slot], dialogTitle_, type);
}

} // namespace kvr::panel
