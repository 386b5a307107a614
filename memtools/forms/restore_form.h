#pragma once
// The window of nvrestore ("Restore last defaults-1"): the user picks "User defaults"
// (usrdef.eep) or "Install defaults" (eepdef.eep) and presses "Start"; the file is checked,
// the settings image written to the controller (the bar growing per word), the settings
// record handed back to the library, the reports resumed, and the program ends. "Cancel"
// resumes the reports and ends at once.

#include "memtools/backup_file.h"

#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <string>

class QLabel;
class QPushButton;
class QRadioButton;

namespace kvr::memtools::forms {

class ProgressFrame;

class RestoreForm : public QWidget {
    Q_OBJECT
public:
    enum ExitCode : int {
        Restored = 0,    // image written, settings handed back
        NotRestored = 1, // "Cancel", or the window closed
        WriteFailed = 2, // the controller stopped answering while its memory was written
    };

    explicit RestoreForm(QWidget* parent = nullptr);

    // Load (search), show, then suspend the reports and wait for the user.
    void start();

    [[nodiscard]] bool hasEnded() const { return ended_; }
    [[nodiscard]] const std::filesystem::path& filePath() const { return filePath_; }
    [[nodiscard]] const std::string& currentName() const { return currentName_; }

Q_SIGNALS:
    void ended(int exitCode);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class WriteOutcome { Declined, NoHandle, Abandoned, Written };

    void activate();
    void startClicked();
    void cancelClicked();
    void showWorking(bool working);
    // The procedures of the restore.
    void getctrname();
    void disablerpt();
    void readbkfile();
    void restore();
    WriteOutcome wrteep();
    void exitprg(int exitCode);

    QLabel* title_;
    QRadioButton* userDefaults_;
    QRadioButton* installDefaults_;
    QPushButton* start_;
    QPushButton* cancel_;
    QLabel* wait_;
    QWidget* frame_;
    ProgressFrame* progress_;

    std::string currentName_;
    std::int32_t handle_ = 0;
    std::filesystem::path filePath_;
    BackupContents contents_;
    bool busy_ = false;
    bool ended_ = false;
};

} // namespace kvr::memtools::forms
