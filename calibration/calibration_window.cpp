#include "calibration/calibration_window.h"

#include "gui/beep.h"
#include "gui/display_window.h"
#include "gui/single_instance.h"
#include "gui/widgets.h"
#include "platform/desktop/message_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

namespace kvr::calibration {
namespace {

using desktop::MB_ICONASTERISK;
using desktop::MB_ICONHAND;
using desktop::MB_OK;

// Target: a disc of radius 5 and rings of radius 10 and 15, drawn with a 2-pixel pen.
constexpr int kDiscRadius = 5;
constexpr int kInnerRing = 10;
constexpr int kOuterRing = 15;
constexpr int kPenWidth = 2;

// Where each slot's text starts, from the display's vertical centre.
constexpr std::array<int, kMessageSlots> kSlotOffsets = {-80, 50, -80, 50, 80, 130};
constexpr std::array<std::size_t, 2> kCaptureSlots = {kCaptureInstruction, kCaptureCancel};
constexpr std::array<std::size_t, 3> kPromptSlots = {kSavePrompt, kSaveTimeout, kSaveEscape};

constexpr const char* kSaveErrorText = "Calibration ERROR";
constexpr const char* kSaveErrorCaption = "Error";

QColor colourOf(TargetColour colour) {
    switch (colour) {
    case TargetColour::Red:
        return QColor(255, 0, 0);
    case TargetColour::Yellow:
        return QColor(255, 255, 0);
    case TargetColour::White:
        break;
    }
    return QColor(255, 255, 255);
}

// Character cells ten times the scale high and wide.
QFont fontForScale(std::uint8_t scale) {
    if (scale > 0) return gui::cellFont(kCellPxPerScale * scale, kCellPxPerScale * scale);
    QFont font = QApplication::font(); // scale 0: the default size
    font.setBold(true);
    return font;
}

// The scale at which every text the window can show fits across the display: the asked one,
// or the largest smaller one that fits (1 at the least).
std::uint8_t fittedFontScale(std::uint8_t scale, const MessageTable& messages, int displayWidth) {
    QStringList texts;
    for (const std::string& text : messages.texts)
        texts << QString::fromStdString(text);
    texts << QString::fromStdString(countdownText(messages, CalibrationWindow::kCountdownTicks));
    for (; scale > 1; --scale) {
        const QFontMetrics metrics(fontForScale(scale));
        int widest = 0;
        for (const QString& text : texts)
            widest = std::max(widest, metrics.horizontalAdvance(text));
        if (widest <= displayWidth) break;
    }
    return scale;
}

} // namespace

CalibrationWindow::CalibrationWindow(WindowSetup setup)
    : gui::Canvas(nullptr, kBackground), setup_(std::move(setup)),
      capture_(setup_.targets.size(), setup_.capture),
      fontScale_(fittedFontScale(
          fontScaleForDisplay(setup_.messages.fontScale, setup_.display.width()), setup_.messages,
          setup_.display.width())),
      font_(fontForScale(fontScale_)) {
    gui::named(this, setup_.className, setup_.accessibleName);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::StrongFocus);
    captureTimer_.setInterval(setup_.captureInterval);
    countdownTimer_.setInterval(setup_.countdownInterval);
    keeperTimer_.setInterval(setup_.keeperInterval);
    connect(&captureTimer_, &QTimer::timeout, this, &CalibrationWindow::captureTick);
    connect(&countdownTimer_, &QTimer::timeout, this, &CalibrationWindow::countdownTick);
    connect(&keeperTimer_, &QTimer::timeout, this, &CalibrationWindow::keepInFront);
    updateAccessibleText();
}

CalibrationWindow::~CalibrationWindow() {
    destroyOnce();
}

void CalibrationWindow::start() {
    if (destroyed_) return;
    gui::showOnDisplay(this, setup_.display);
    setFocus();
    if (setup_.keeperTimer && gui::canBringItselfToFront()) keeperTimer_.start();
    captureTimer_.start();
    // The first target at once, not a capture tick later: the user sees where to touch as
    // soon as the window is there.
    captureTick();
}

QPoint CalibrationWindow::targetPoint(std::size_t index) const {
    const TargetPixel p =
        targetPixel(setup_.display.width(), setup_.display.height(), setup_.targets.at(index));
    return {p.px, p.py};
}

QStringList CalibrationWindow::shownTexts() const {
    QStringList texts;
    const auto& slotTexts = setup_.messages.texts;
    if (screen_ == Screen::Capture) {
        for (std::size_t s : kCaptureSlots)
            texts << QString::fromStdString(slotTexts[s]);
    } else {
        for (std::size_t s : kPromptSlots)
            texts << QString::fromStdString(slotTexts[s]);
        texts << QString::fromStdString(countdownText(setup_.messages, countdownLeft()));
    }
    return texts;
}

void CalibrationWindow::paintOverlay(QPainter& painter) {
    painter.setFont(font_);
    const QFontMetrics metrics(font_);
    const int centreX = setup_.display.width() / 2;
    const int centreY = setup_.display.height() / 2;
    const QStringList texts = shownTexts();
    const auto drawLine = [&](const QString& text, std::size_t slot) {
        const int left = centreX - metrics.horizontalAdvance(text) / 2;
        const int top = centreY + kSlotOffsets[slot];
        painter.setPen(setup_.textColours[slot]);
        painter.drawText(QPoint(left, top + metrics.ascent()), text);
    };
    if (screen_ == Screen::Capture) {
        for (std::size_t i = 0; i < kCaptureSlots.size(); ++i)
            drawLine(texts[int(i)], kCaptureSlots[i]);
    } else {
        for (std::size_t i = 0; i < kPromptSlots.size(); ++i)
            drawLine(texts[int(i)], kPromptSlots[i]);
        drawLine(texts.back(), kCountdownLabel);
    }
}

void CalibrationWindow::drawTarget(std::size_t index, TargetColour colour) {
    const QPoint centre = targetPoint(index);
    {
        QPainter painter(&picture());
        painter.setPen(QPen(colourOf(colour), kPenWidth));
        painter.setBrush(Qt::white);
        painter.drawEllipse(centre, kDiscRadius, kDiscRadius);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, kInnerRing, kInnerRing);
        painter.drawEllipse(centre, kOuterRing, kOuterRing);
    }
    const int reach = kOuterRing + kPenWidth;
    update(QRect(centre - QPoint(reach, reach), QSize(2 * reach + 1, 2 * reach + 1)));
}

void CalibrationWindow::updateAccessibleText() {
    setAccessibleDescription(shownTexts().join(QLatin1Char('\n')));
}

void CalibrationWindow::captureTick() {
    if (busy_ || screen_ != Screen::Capture) return;
    if (setup_.keeperTimer) {
        if (gui::canBringItselfToFront()) activateWindow();
        setFocus();
    } else {
        keepInFront();
    }
    // The tick's short pause after a press lets events through; what they ask for waits.
    TickResult result;
    runBusy([&] { result = capture_.tick(); });
    if (result.colour) drawTarget(result.target, *result.colour);
    if (result.pressBeep) gui::MessageBeep(MB_OK);
    if (result.pointBeep) gui::MessageBeep(MB_ICONASTERISK);
    if (result.finished) {
        finishCapture();
    } else {
        carryOutHeldInput();
    }
}

void CalibrationWindow::finishCapture() {
    captureTimer_.stop();
    runBusy(setup_.steps.captureDone);
    capture_.clearPress();
    showSavePrompt();
    carryOutHeldInput();
}

void CalibrationWindow::showSavePrompt() {
    screen_ = Screen::SavePrompt;
    countdown_ = 0;
    clear();
    repaint();
    saveArmed_ = true;
    updateAccessibleText();
    countdownTimer_.start();
}

void CalibrationWindow::countdownTick() {
    if (busy_) return;
    ++countdown_;
    updateAccessibleText();
    repaint();
    if (countdown_ >= kCountdownTicks) {
        countdownTimer_.stop();
        close();
    }
}

void CalibrationWindow::keepInFront() {
    // A native Wayland client cannot raise itself: its full-screen state keeps it in front of
    // the output's other windows, and the keyboard is the compositor's to give.
    if (!gui::canBringItselfToFront()) return;
    // A message box of the program stays above the window and keeps the keyboard.
    if (QApplication::activeModalWidget() != nullptr) return;
    if (isActiveWindow() && !isMinimized()) return; // in front already
    gui::bringToForeground(this);
}

void CalibrationWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && saveArmed_ && !busy_) save();
}

void CalibrationWindow::save() {
    countdownTimer_.stop();
    saveArmed_ = false;
    bool stored = false;
    runBusy([&] { stored = setup_.steps.save(capture_.points()); });
    if (stored) {
        gui::MessageBeep(MB_OK);
        close();
        return;
    }
    // Nothing was stored (the driver refused the points, or the controller did not take the
    // table): say so rather than beep as if it had been.
    gui::MessageBeep(MB_ICONHAND);
    desktop::messageBox(kSaveErrorText, kSaveErrorCaption, MB_OK | MB_ICONHAND);
    if (destroyed_) return; // told to go while the box was up
    if (setup_.captureAgainAfterRefusedSave && !escapeHeld_ && !closeHeld_) {
        captureAgain();
    } else {
        close();
    }
}

void CalibrationWindow::captureAgain() {
    screen_ = Screen::Capture;
    countdown_ = 0;
    // Esc or a close while the capture is armed again waits for it and is carried out then;
    // nothing goes on with a controller the window has already given back.
    runBusy([this] { capture_.restart(); });
    if (destroyed_) return;
    if (escapeHeld_ || closeHeld_) {
        carryOutHeldInput();
        return;
    }
    clear();
    repaint();
    updateAccessibleText();
    captureTimer_.start();
    captureTick();
}

void CalibrationWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) {
        gui::Canvas::keyPressEvent(event);
        return;
    }
    if (busy_) {
        escapeHeld_ = true;
        return;
    }
    escape();
}

void CalibrationWindow::escape() {
    captureTimer_.stop();
    countdownTimer_.stop();
    saveArmed_ = false;
    runBusy(setup_.steps.escape);
    escaped_ = true;
    capture_.clearPress();
    close();
}

void CalibrationWindow::closeEvent(QCloseEvent* event) {
    if (busy_) {
        closeHeld_ = true;
        event->ignore();
        return;
    }
    destroyOnce();
    event->accept();
}

void CalibrationWindow::destroyOnce() {
    if (destroyed_) return;
    destroyed_ = true;
    captureTimer_.stop();
    countdownTimer_.stop();
    keeperTimer_.stop();
    saveArmed_ = false;
    // Closed from outside while capturing (asked to go by another program): the capture
    // must not stay armed, nor the report mode changed.
    if (screen_ == Screen::Capture && !escaped_ && setup_.steps.escape)
        runBusy(setup_.steps.escape);
    if (setup_.steps.destroy) setup_.steps.destroy();
}

void CalibrationWindow::runBusy(const std::function<void()>& step) {
    if (!step) return;
    busy_ = true;
    step();
    busy_ = false;
}

void CalibrationWindow::carryOutHeldInput() {
    if (escapeHeld_) {
        escapeHeld_ = false;
        escape();
    } else if (closeHeld_) {
        closeHeld_ = false;
        close();
    }
}

} // namespace kvr::calibration
