#pragma once
// The window of pinmap (" Pin Define (Touch Sensor)"): the user picks the sensor kind and
// assigns an electrode to each connector pin; "Confirm" writes the wiring code into word 9E
// of the controller and has it restore its defaults so the wiring takes effect.

#include "memtools/pin_definition.h"

#include <QWidget>
#include <string>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace kvr::memtools::forms {

class PinmapForm : public QWidget {
    Q_OBJECT
public:
    enum ExitCode : int {
        Written = 0,    // "Write OK"
        NotWritten = 1, // "Cancel", "No" to the confirmation, or the window closed
        // 2 is the usage error every windowed program has.
        WriteError = 3, // the library kept refusing the write ("Write failed!!")
    };

    explicit PinmapForm(QWidget* parent = nullptr);

    // Load (entry reset, search), show.
    void start();

    [[nodiscard]] bool hasEnded() const { return ended_; }
    [[nodiscard]] const PinEntry& entry() const { return entry_; }
    [[nodiscard]] const std::string& currentName() const { return currentName_; }

Q_SIGNALS:
    void ended(int exitCode);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void sensorKindChosen();
    void setClicked();
    void confirmClicked();
    void cancelClicked();
    void end(int exitCode);
    void keyDown(int key);
    // The procedures of the form.
    void lblclr();
    void cb1add();
    void finishpin();
    void vlbloff();
    void getctrname();

    QRadioButton* fiveWire_;
    QRadioButton* fourWire_;
    QLabel* pin_;
    QComboBox* choices_;
    QPushButton* set_;
    QPushButton* confirm_;
    QPushButton* cancel_;
    QListWidget* result_;
    QLabel* code_;

    PinEntry entry_;
    std::string currentName_;
    bool busy_ = false;
    bool ended_ = false;
};

} // namespace kvr::memtools::forms
