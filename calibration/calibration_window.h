#pragma once
// The full-screen window of the calibration programs, on the controller's display.
//
// Capture screen: the current target blinks red and white on the capture timer (200 ms),
// turns yellow while the finger is on it, and the next one starts after the lift (Capture).
// Targets are drawn into the canvas's picture, so a finished target stays yellow until the
// full repaint of the save prompt. Save prompt: a countdown of 21 ticks of 500 ms; a
// left-button release anywhere (the touch, which reaches the window as a click once the
// capture has ended) saves, the end of the countdown closes without saving. Esc closes from
// either screen without saving.
//
// What differs between the programs (what is stored, how the controller is settled) comes in
// ProgramSteps. The window runs on the GUI thread only: the programs' waits pump events, and
// whatever arrives meanwhile (Esc, a close) is carried out once the step is over.

#include "calibration/capture.h"
#include "calibration/message_file.h"
#include "calibration/targets.h"
#include "gui/canvas.h"

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kvr::calibration {

struct ProgramSteps {
    std::function<void()> captureDone;                      // after the last lift
    std::function<bool(const std::vector<RawPoint>&)> save; // the save tap; false: refused
    std::function<void()> escape;                           // Esc, or closed while capturing
    std::function<void()> destroy;                          // the window goes
};

struct WindowSetup {
    const char* className = ""; // objectName (the window class: "CAL3PT", "LINEAR")
    QString accessibleName;     // what the window is, for screen readers
    QRect display;              // the display's rectangle in desktop pixels
    MessageTable messages;      // texts and font scale (as the file gave them)
    std::array<QColor, kMessageSlots> textColours;
    std::vector<TargetUnits> targets;
    CaptureCalls capture;
    ProgramSteps steps;
    bool captureAgainAfterRefusedSave = false; // else the window closes
    bool keeperTimer = false; // a timer keeps the window in front (else the capture tick does)
    std::chrono::milliseconds captureInterval{200};
    std::chrono::milliseconds countdownInterval{500};
    std::chrono::milliseconds keeperInterval{200};
};

class CalibrationWindow : public gui::Canvas {
    Q_OBJECT
public:
    enum class Screen { Capture = 1, SavePrompt = 2 };
    static constexpr int kCountdownTicks = 21;
    static inline const QColor kBackground{128, 128, 128};

    explicit CalibrationWindow(WindowSetup setup);
    ~CalibrationWindow() override;

    // Shows the window on its display and starts the capture; the first target is drawn at
    // once.
    void start();

    [[nodiscard]] Screen screen() const { return screen_; }
    [[nodiscard]] std::size_t currentTarget() const { return capture_.current(); }
    [[nodiscard]] bool saveArmed() const { return saveArmed_; }
    [[nodiscard]] int countdownLeft() const { return kCountdownTicks - countdown_; }
    [[nodiscard]] std::uint8_t fontScale() const { return fontScale_; }
    [[nodiscard]] QFont textFont() const { return font_; }
    // The window position of target `index`.
    [[nodiscard]] QPoint targetPoint(std::size_t index) const;
    // The texts of the current screen, top to bottom.
    [[nodiscard]] QStringList shownTexts() const;

protected:
    void paintOverlay(QPainter& painter) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void captureTick();
    void countdownTick();
    void keepInFront();
    void finishCapture();
    void showSavePrompt();
    void captureAgain();
    void save();
    void escape();
    void destroyOnce();
    void drawTarget(std::size_t index, TargetColour colour);
    void updateAccessibleText();
    // Runs a step of the program that may wait; input that arrives meanwhile is held back.
    void runBusy(const std::function<void()>& step);
    void carryOutHeldInput();

    WindowSetup setup_;
    Capture capture_;
    std::uint8_t fontScale_;
    QFont font_;
    Screen screen_ = Screen::Capture;
    bool saveArmed_ = false;
    int countdown_ = 0;
    QTimer captureTimer_;
    QTimer countdownTimer_;
    QTimer keeperTimer_;
    bool busy_ = false;
    bool escapeHeld_ = false;
    bool closeHeld_ = false;
    bool escaped_ = false;
    bool destroyed_ = false;
};

} // namespace kvr::calibration
