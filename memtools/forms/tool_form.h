#pragma once
// What the memory tools' windows share: the progress frame that grows by one 35th per word,
// message boxes with the program's name as caption, and the way a tool ends.

#include "memtools/controller_search.h"
#include "memtools/image_transfer.h"
#include "memtools/settings_image.h"

#include <QFrame>
#include <QWidget>
#include <cstdint>
#include <string>
#include <string_view>

class QCloseEvent;
class QLabel;

namespace kvr::memtools::forms {

// A sunken frame holding a filled label whose width starts at 0 and grows by one progress
// unit (a 35th of the frame's inner width) per word moved.
class ProgressFrame : public QFrame {
    Q_OBJECT
public:
    explicit ProgressFrame(QWidget* parent = nullptr);

    // Takes the progress unit from the frame's present inner width and empties the bar.
    void takeUnit();
    // The bar's width: `words` progress units.
    void setWords(int words);

    [[nodiscard]] int unit() const { return unit_; }
    [[nodiscard]] int barWidth() const;
    // The progress of a transfer running on the library worker: each word moves the bar on
    // the GUI thread (nothing once the frame is gone).
    Progress fromWorker();

private:
    QLabel* bar_;
    int unit_ = 0;
};

// What the backup and the restore window have in common: they find the controller, suspend
// its reports while they are open, and resume them however they end (exitprg when their work
// ends them, the unload handling when the window is closed). A window busy with a transfer
// does not close: it finishes and ends by itself. Every library call goes through the
// program's library worker.
class ReportingToolWindow : public QWidget {
    Q_OBJECT
public:
    [[nodiscard]] bool hasEnded() const { return ended_; }
    [[nodiscard]] const std::string& currentName() const { return currentName_; }

Q_SIGNALS:
    void ended(int exitCode);

protected:
    // `closedExitCode`: the program's exit code when the user closes the window.
    ReportingToolWindow(int closedExitCode, QWidget* parent);
    void closeEvent(QCloseEvent* event) override;

    // The search at load: the first controller that answers becomes the current one. When
    // none answers, why is told on stderr and kept in searchTrouble_.
    SearchResult findController();
    // A message box text for a controller that could not be reached: `text`, and on its
    // second line why (the stderr line is written too).
    std::string troubleText(std::string_view text) const;
    void disablerpt();
    // Resumes the reports and ends the program with `exitCode`.
    void exitprg(int exitCode);

    std::string currentName_;
    std::string searchTrouble_; // why the last search found no controller that answers
    bool busy_ = false;         // a sequence with waits is running
    bool ended_ = false;

private:
    int closedExitCode_;
};

// A message box of the tool (caption: the program's name); the ID* result.
int toolMessage(std::string_view text, std::uint32_t type = 0);

// A Yes/No question of the tool; true for Yes.
bool toolQuestion(std::string_view text);

} // namespace kvr::memtools::forms
