#pragma once
// The window of nvrestore ("Restore last defaults-1"): the user picks "User defaults"
// (usrdef.eep) or "Install defaults" (eepdef.eep) and presses "Start"; the file is checked,
// the settings image written to the controller (the bar growing per word), the settings
// record handed back to the library, the reports resumed, and the program ends. "Cancel"
// resumes the reports and ends at once.

#include "memtools/backup_file.h"
#include "memtools/forms/tool_form.h"

#include <cstdint>
#include <filesystem>
#include <string>

class QLabel;
class QPushButton;
class QRadioButton;

namespace kvr::memtools::forms {

class RestoreForm : public ReportingToolWindow {
    Q_OBJECT
public:
    enum ExitCode : int {
        Restored = 0,    // image written, settings handed back
        NotRestored = 1, // "Cancel", or the window closed
        // 2 is the usage error every windowed program has.
        WriteFailed = 3, // the controller stopped answering while its memory was written
    };

    explicit RestoreForm(QWidget* parent = nullptr);

    // Load (search), show, then suspend the reports and wait for the user.
    void start();

    [[nodiscard]] const std::filesystem::path& filePath() const { return filePath_; }

private:
    enum class WriteOutcome { Declined, NoHandle, Abandoned, Written };

    void activate();
    void startClicked();
    void cancelClicked();
    void showWorking(bool working);
    // The procedures of the restore (disablerpt and exitprg are shared).
    void getctrname();
    void readbkfile();
    void restore();
    WriteOutcome wrteep();

    QLabel* title_;
    QRadioButton* userDefaults_;
    QRadioButton* installDefaults_;
    QPushButton* start_;
    QPushButton* cancel_;
    QLabel* wait_;
    QWidget* frame_;
    ProgressFrame* progress_;

    bool startingUp_ = false;    // the start-up exchange (suspending the reports) runs
    bool startPending_ = false;  // Start was clicked meanwhile; carried out when it ends
    bool cancelPending_ = false; // the same for Cancel
    std::int32_t handle_ = 0;
    std::filesystem::path filePath_;
    BackupContents contents_;
};

} // namespace kvr::memtools::forms
