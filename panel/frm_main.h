#pragma once
// frmMain: the control panel's one window. The tab control SSTab1 holds six tabs:
//
//   0 "General"    logo, title label, second text label, picture box
//   1 "Settings"   touch mode, rotation, right click, sounds and buzzer, "Hide Cursor",
//                  "Disable Touch Panel", the hidden text frame
//   2 "Parameter"  touch sensitivity, double click and right-click response, "Confirm"
//   3 "Tools"      backup, restore, "Draw", "Reset", "Defaults", controller information frame
//   4 "Device"     controller list, selected controller, firmware version, calibration,
//                  "Release comport and Exit"
//   5 "Advance"    the controller's parameters with their "Confirm"
//
// "Exit" and "Scale / Offset " stand below the tabs. Every control carries its design name
// as objectName (how tests and tools find it) and its caption as accessible name; the members
// are named for what they are. The procedures keep their design names; what they do with the
// controller lives in sequences.h, settings reads in ranges.h, the message texts in
// messages.h and the customisation file in customisation.h. Values the procedures use are
// kept in typed members; the labels only show them.
//
// Every library call goes through the program's library worker. A way out of the program
// (Exit, Ctrl+E, the window's close, "Release comport and Exit") taken while a procedure
// waits for the controller hides the window and ends the program once that procedure is done.

#include "panel/companions.h"
#include "panel/customisation.h"
#include "panel/exchange.h"
#include "panel/messages.h"
#include "panel/sequences.h"
#include "platform/desktop/atoms.h"

#include <QPoint>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTabWidget;
class QTableWidget;
class QTimer;

namespace kvr::panel {

inline constexpr const char* kInstanceAtom = "Lumarcon01";
inline constexpr const char* kSecondCopyFile = "okokok.ok";
inline constexpr const char* kVersionText = "Version :  3.2.0";

// Tabs of SSTab1.
enum Tab : int { General = 0, Settings, Parameter, Tools, Device, Advance, TabCount };

// A slider as the form shows it: caption, end labels, the scroll bar and its value label
// (objectNames NAME, NAMECaption, NAMELow, NAMEHigh, NAMEValue).
struct SliderRow {
    QLabel* caption = nullptr;
    QLabel* low = nullptr;
    QScrollBar* bar = nullptr;
    QLabel* high = nullptr;
    QLabel* value = nullptr;
};

class FrmMain : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(QWidget* parent = nullptr);
    ~FrmMain() override;

    // Form_Load up to showing the window (single instance, messages, customisation file).
    // False when another copy runs and "okokok.ok" is absent: the program ends silently.
    bool Form_Load();
    // The rest of the start-up once the window shows: controller list and probe, driver
    // settings, identity text, firmware page, first-start backup; then the ready delay.
    void startUp();

    // Where the companion programs are looked for (the program's own folder by default).
    void setCompanions(Companions companions) { companions_ = std::move(companions); }

    // State the tests look at.
    [[nodiscard]] const Session& session() const { return session_; }
    [[nodiscard]] const MessageTable& messages() const { return messages_; }
    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] bool startUpDone() const { return startUpDone_; }
    [[nodiscard]] bool busy() const { return busy_; }
    [[nodiscard]] std::uint8_t savedReportMode() const { return savedReportMode_; }
    [[nodiscard]] const ControllerList& controllers() const { return list_; }
    [[nodiscard]] const std::string& dialogTitle() const { return dialogTitle_; }
    [[nodiscard]] const Customisation& customisation() const { return customisation_; }
    [[nodiscard]] const std::string& identityText() const { return identityText_; }

Q_SIGNALS:
    // Form_Terminate ran: the program ends now.
    void terminated();
    // The start-up's reads are done (the ready delay starts).
    void startUpFinished();

public Q_SLOTS:
    void getctrname();
    void Grid1_Click(int row);
    void Timer1_Timer();
    void Form_Terminate();
    void cmdExit_Click();
    void Command5_Click();

    // Information and parameter pages.
    void cmdInfo1();
    void readfw();
    void Command8_Click();
    void Combo1_Click(int index);

    // Driver settings pages.
    void readset();
    void Option3_Click(int index);
    void Option2_Click(int index);
    void Check4_Click(bool ticked);
    void Check6_Click(bool ticked);
    void Check3_Click(bool ticked);
    void Check1_Click(bool ticked);
    void Check2_Click(bool ticked);
    void Check5_Click(bool ticked);
    void soundTypeChosen(bool buzzer);
    void Command9_Click();
    void Command6_Click();

    // Tools.
    void cmd2pts_Click();
    void cmd5pts_Click();
    void cmd9pts_Click();
    void Command1_Click();
    void Command7_Click();
    void Command19_Click();
    void Command3_Click();
    void Command2_Click();
    void Command17_Click();
    void Command18_Click();
    void Command4_Click();
    void SSTab1_Click(int index);
    void rdeep(bool showMessage);

    // Customisation file and hidden keys.
    void rdformad();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Building the window, one tab at a time.
    void buildWindow();
    QWidget* buildGeneralTab();
    QWidget* buildSettingsTab();
    QWidget* buildParameterTab();
    QWidget* buildToolsTab();
    QWidget* buildDeviceTab();
    QWidget* buildAdvanceTab();
    SliderRow makeSlider(const char* name, const QString& caption, const QString& low,
                         const QString& high, int minimum, int maximum, int largeStep, int initial);
    void placeGeneralItems();

    // Start-up pieces.
    void loadPictures();
    void setCaption(const char* ending);
    void showSelectedController();
    void fillControllerGrid(const std::vector<std::string>& displayColumn);
    // The list's highlight moved by the keyboard or the accessibility bus: the same as a
    // click on that row.
    void listSelectionMoved();
    // The highlight set by the program itself (no selection of its own).
    void highlightRow(int row);
    bool firstStartBackupNeeded() const;

    // Page helpers.
    void applyFirmwarePage(const FirmwarePage& page);
    void setSliderValue(SliderRow& row, int value);
    void clearLevelRow(SliderRow& row, std::optional<std::uint32_t>& level);
    void placeHelpFrame();
    void showRightClickTime(int ms);
    std::uint32_t firmwareNumber() const;
    AdvanceValues advanceValues() const;
    void startLinearity(int points);
    void showMessage(std::size_t slot, std::uint32_t type = 0);
    // A box text for a controller that could not be reached: `text`, and why on its second
    // line (told on stderr too, unless the controller search just told it).
    std::string troubleText(std::string_view text) const;
    int ask(std::size_t slot, std::uint32_t type);

    // Customisation.
    void applyCustomisation();
    void applyHiddenKey(HiddenKeyAction action);
    // True when the key was one of the window's (Ctrl+E, a hidden key).
    bool Form_KeyDown(int key, Qt::KeyboardModifiers modifiers);

    // Below the tabs.
    QTabWidget* tabs_ = nullptr;               // SSTab1
    QPushButton* exitButton_ = nullptr;        // cmdExit
    QPushButton* scaleOffsetButton_ = nullptr; // cmd2pts

    // General.
    QWidget* generalPage_ = nullptr;
    QLabel* logo_ = nullptr;        // Image1
    QLabel* titleLabel_ = nullptr;  // Label1
    QLabel* secondLabel_ = nullptr; // Label2
    QLabel* pictureBox_ = nullptr;  // Picture1

    // Settings.
    QGroupBox* touchModeFrame_ = nullptr;             // fraTouchMode
    std::array<QRadioButton*, 3> touchModeOptions_{}; // Option3(0..2)
    QGroupBox* rotationFrame_ = nullptr;              // fraRotation
    std::array<QRadioButton*, 4> rotationOptions_{};  // Option2(0..3)
    QGroupBox* rightClickFrame_ = nullptr;            // fraRightClick
    QCheckBox* autoRightClick_ = nullptr;             // Check4
    QCheckBox* manualRightClick_ = nullptr;           // Check6
    QGroupBox* soundFrame_ = nullptr;                 // fraSound
    QRadioButton* audioOption_ = nullptr;             // Option1
    QRadioButton* buzzerOption_ = nullptr;            // Option4
    QCheckBox* upSound_ = nullptr;                    // Check1
    QCheckBox* downSound_ = nullptr;                  // Check2
    QGroupBox* buzzerFrame_ = nullptr;                // fraBuzzer
    QLabel* frequencyCaption_ = nullptr;              // lblFrequency
    QScrollBar* frequencyBar_ = nullptr;              // VScroll1
    QLabel* frequencyLabel_ = nullptr;                // VScroll1Value
    QLabel* durationCaption_ = nullptr;               // lblDuration
    QScrollBar* durationBar_ = nullptr;               // VScroll2
    QLabel* durationLabel_ = nullptr;                 // VScroll2Value
    QPushButton* buzzerSetButton_ = nullptr;          // Command9
    QPushButton* hideCursorButton_ = nullptr;         // Command17
    QCheckBox* disableTouch_ = nullptr;               // Check5
    QGroupBox* helpFrame_ = nullptr;                  // fraHelpText
    QPlainTextEdit* helpText_ = nullptr;              // Text2
    QCheckBox* doubleClick_ = nullptr;                // Check3
    QPushButton* helpOkButton_ = nullptr;             // Command18

    // Parameter.
    QLabel* sensitivityCaption_ = nullptr;    // lblSensitivity
    QComboBox* sensitivityList_ = nullptr;    // Combo1
    SliderRow rightClickTimeRow_;             // HScrRightClickTime
    SliderRow doubleClickAreaRow_;            // HScroll2
    SliderRow doubleClickSpeedRow_;           // HScroll1
    QPushButton* parameterConfirm_ = nullptr; // Command6

    // Tools.
    QPushButton* backupButton_ = nullptr;    // Command7
    QPushButton* restoreButton_ = nullptr;   // Command19
    QPushButton* drawButton_ = nullptr;      // Command1
    QLabel* drawCaption_ = nullptr;          // lblDraw
    QPushButton* resetButton_ = nullptr;     // Command3
    QLabel* resetCaption_ = nullptr;         // lblReset
    QPushButton* defaultsButton_ = nullptr;  // Command2
    QLabel* defaultsCaption_ = nullptr;      // lblDefaults
    QGroupBox* infoFrame_ = nullptr;         // fraInfo
    QLabel* infoLabel_ = nullptr;            // lblInfo
    QPushButton* infoCloseButton_ = nullptr; // Command4

    // Device.
    QLabel* controllerTitle_ = nullptr;      // Label3
    QTableWidget* controllerGrid_ = nullptr; // Grid1
    QLabel* activeCaption_ = nullptr;        // lblActive
    QLineEdit* activeName_ = nullptr;        // Text1
    QLabel* firmwareCaption_ = nullptr;      // lblFirmwareCaption
    QLabel* identityLabel_ = nullptr;        // lblFirmware
    QPushButton* fivePointButton_ = nullptr; // cmd5pts
    QPushButton* ninePointButton_ = nullptr; // cmd9pts
    QPushButton* releaseButton_ = nullptr;   // Command5

    // Advance.
    SliderRow measTimeRow_;                 // HScra1
    SliderRow measDelayRow_;                // HScra2
    SliderRow inFocusRow_;                  // HScrInfocus
    SliderRow outFocusRow_;                 // HScrOutfocus
    SliderRow accLevelRow_;                 // HScroll3
    SliderRow noiseLevelRow_;               // HScroll4
    QCheckBox* accLevelBox_ = nullptr;      // chkAccLevel
    QCheckBox* noiseLevelBox_ = nullptr;    // chkNoiseLevel
    QPushButton* advanceConfirm_ = nullptr; // Command8

    QTimer* readyTimer_ = nullptr; // Timer1

    // Values.
    Session session_;
    MessageTable messages_;
    Customisation customisation_;
    Companions companions_;
    ControllerList list_;
    std::optional<desktop::GlobalAtom> instanceAtom_;
    std::string dialogTitle_;
    std::string troubleCause_;    // why the last controller search found none that answers
    std::string identityText_;    // shown after "Firmware Version : "
    std::string kept03_, kept05_; // first bytes of 03 and 05 as read
    std::optional<std::uint32_t> accLevel_;   // "Acc.Level" as shown (none: row empty)
    std::optional<std::uint32_t> noiseLevel_; // "A.D.N.L." as shown (none: row empty)
    int rightClickTimeMs_ = 0;                // the right-click response time shown
    std::uint8_t savedReportMode_ = 1;
    bool ready_ = false;
    bool busy_ = false;
    QWidget* content_ = nullptr; // everything in the window, scrolling where the screen is small
    bool listHighlightInCode_ = false; // the program, not the user, moves the list's highlight
    bool listMousePressed_ = false;    // a mouse press on the list: its click selects
    bool activated_ = false; // Form_Activate has run: sound type and manual right click send
    bool startUpDone_ = false;
    bool terminating_ = false;
    bool advanceAllowed_ = true;
    std::array<char, 6> hiddenKeys_ = kBuiltinHiddenKeys;
    // Where the "General" tab's items stand, in twips (the customisation file moves them).
    QPoint imageTwips_{360, 360};
    QPoint label1Twips_{3600, 720};
    QPoint label2Twips_{3600, 1680};
    QPoint pictureTwips_{360, 2880};
    bool hiddenKeysActive_ = true;
};

} // namespace kvr::panel
