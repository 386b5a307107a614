#pragma once
// The window of nvbackup ("Backup System Settings-1"): it runs unattended. At load it finds
// the controller; once shown it suspends the controller's reports, reads the settings record
// and the settings image (the bar growing per word), writes the backup file into the state
// folder, resumes the reports and ends.

#include "memtools/backup_file.h"
#include "memtools/forms/tool_form.h"

#include <cstdint>
#include <filesystem>
#include <string>

class QLabel;

namespace kvr::memtools::forms {

class BackupForm : public ReportingToolWindow {
    Q_OBJECT
public:
    enum ExitCode : int {
        Saved = 0,          // the backup file was written
        NoDevice = 1,       // "No device was found"
        FileNotWritten = 3, // the state folder could not take the file
        Closed = 4,         // the window was closed before a backup was made
        ReadFailed = 5,     // "Error Reading!!!": the controller did not answer every word
        // (2 is the usage error every windowed program has.)
    };

    explicit BackupForm(QWidget* parent = nullptr);

    // Load (search), show, then the work once the window is up. Ends through ended().
    void start();

    [[nodiscard]] const std::filesystem::path& writtenFile() const { return writtenFile_; }

private:
    void activate();
    // The procedures of the backup (disablerpt and exitprg are shared).
    bool getctrname();
    void readset();
    void rdeep();

    QLabel* title_;
    QLabel* wait_;
    ProgressFrame* progress_;

    std::int32_t handle_ = 0;
    BackupContents contents_;
    std::filesystem::path writtenFile_;
};

} // namespace kvr::memtools::forms
