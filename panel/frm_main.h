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
// as objectName and its caption as accessible name. The procedures keep their design names;
// what they do with the controller lives in sequences.h, settings reads in ranges.h, the
// message texts in messages.h and the customisation file in customisation.h.

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

class QButtonGroup;
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

// A slider as the form shows it: caption, end labels, the scroll bar and its value label.
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
    [[nodiscard]] std::uint8_t savedReportMode() const { return savedReportMode_; }
    [[nodiscard]] const ControllerList& controllers() const { return list_; }
    [[nodiscard]] const std::string& dialogTitle() const { return dialogTitle_; }
    [[nodiscard]] const Customisation& customisation() const { return customisation_; }

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
    bool firstStartBackupNeeded() const;

    // Page helpers.
    void applyFirmwarePage(const FirmwarePage& page);
    void setSliderValue(SliderRow& row, int value);
    void clearSlider(SliderRow& row);
    void selectOption(QRadioButton* option);
    void placeHelpFrame();
    std::uint32_t firmwareNumber() const;
    void startLinearity(int points);
    void showMessage(std::size_t slot, std::uint32_t type = 0);
    int ask(std::size_t slot, std::uint32_t type);

    // Customisation.
    void applyCustomisation();
    void applyHiddenKey(HiddenKeyAction action);
    // True when the key was one of the window's (Ctrl+E, a hidden key).
    bool Form_KeyDown(int key, Qt::KeyboardModifiers modifiers);

public:
    // Controls (objectName = design name).
    QTabWidget* SSTab1 = nullptr;
    QPushButton* cmdExit = nullptr;
    QPushButton* cmd2pts = nullptr;

    // General.
    QWidget* generalPage = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr; // title label
    QLabel* Label2 = nullptr; // second text label
    QLabel* Picture1 = nullptr;

    // Settings.
    QGroupBox* fraTouchMode = nullptr;
    std::array<QRadioButton*, 3> Option3{};
    QGroupBox* fraRotation = nullptr;
    std::array<QRadioButton*, 4> Option2{};
    QGroupBox* fraRightClick = nullptr;
    QCheckBox* Check4 = nullptr;
    QCheckBox* Check6 = nullptr;
    QGroupBox* fraSound = nullptr;
    QRadioButton* Option1 = nullptr; // "Audio"
    QRadioButton* Option4 = nullptr; // "Buzzer"
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QGroupBox* fraBuzzer = nullptr;
    QLabel* lblFrequency = nullptr;
    QScrollBar* VScroll1 = nullptr;
    QLabel* lblFrequencyValue = nullptr;
    QLabel* lblDuration = nullptr;
    QScrollBar* VScroll2 = nullptr;
    QLabel* lblDurationValue = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command17 = nullptr;
    QCheckBox* Check5 = nullptr;
    QGroupBox* fraHelpText = nullptr;
    QPlainTextEdit* Text2 = nullptr;
    QCheckBox* Check3 = nullptr;
    QPushButton* Command18 = nullptr;

    // Parameter.
    QLabel* lblSensitivity = nullptr;
    QComboBox* Combo1 = nullptr;
    SliderRow rightClickRow, areaRow, speedRow;
    QPushButton* Command6 = nullptr;

    // Tools.
    QPushButton* Command7 = nullptr;
    QPushButton* Command19 = nullptr;
    QPushButton* Command1 = nullptr;
    QLabel* lblDraw = nullptr;
    QPushButton* Command3 = nullptr;
    QLabel* lblReset = nullptr;
    QPushButton* Command2 = nullptr;
    QLabel* lblDefaults = nullptr;
    QGroupBox* fraInfo = nullptr;
    QLabel* lblInfo = nullptr;
    QPushButton* Command4 = nullptr;

    // Device.
    QLabel* Label3 = nullptr; // "Touch Controller"
    QTableWidget* Grid1 = nullptr;
    QLabel* lblActive = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* lblFirmwareCaption = nullptr;
    QLabel* lblFirmware = nullptr; // the identity text
    QPushButton* cmd5pts = nullptr;
    QPushButton* cmd9pts = nullptr;
    QPushButton* Command5 = nullptr;

    // Advance.
    SliderRow measTimeRow, measDelayRow, inFocusRow, outFocusRow, accRow, noiseRow;
    QCheckBox* chkAccLevel = nullptr;
    QCheckBox* chkNoiseLevel = nullptr;
    QPushButton* Command8 = nullptr;

    QTimer* Timer1 = nullptr;

private:
    Session session_;
    MessageTable messages_;
    Customisation customisation_;
    Companions companions_;
    ControllerList list_;
    std::optional<desktop::GlobalAtom> instanceAtom_;
    std::string dialogTitle_;
    std::string kept03_, kept05_;
    std::uint8_t savedReportMode_ = 1;
    bool ready_ = false;
    bool busy_ = false;
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
