#include "memtools/forms/tool_form.h"

#include "gui/controller_trouble.h"
#include "gui/library_worker.h"
#include "gui/accessibility.h"
#include "gui/widgets.h"
#include "platform/desktop/message_box.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>

namespace kvr::memtools::forms {

ProgressFrame::ProgressFrame(QWidget* parent) : QFrame(parent) {
    gui::named(this, "fraProgress", QStringLiteral("Progress"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFixedHeight(28);
    gui::makeProgressIndicator(this, kImageWords);
    bar_ = new QLabel(this);
    bar_->setObjectName(QStringLiteral("lblProgress"));
    bar_->setAutoFillBackground(true);
    QPalette p = bar_->palette();
    p.setColor(QPalette::Window, QColor(0, 0, 160));
    bar_->setPalette(p);
    bar_->setGeometry(contentsRect().left(), contentsRect().top(), 0, contentsRect().height());
}

void ProgressFrame::takeUnit() {
    unit_ = contentsRect().width() / kImageWords;
    setWords(0);
}

void ProgressFrame::setWords(int words) {
    const QRect inside = contentsRect();
    bar_->setGeometry(inside.left(), inside.top(), unit_ * words, inside.height());
    bar_->setVisible(words > 0);
    gui::setProgressValue(this, words);
}

int ProgressFrame::barWidth() const {
    return bar_->isVisible() ? bar_->width() : 0;
}

Progress ProgressFrame::fromWorker() {
    return [frame = QPointer<ProgressFrame>(this)](int words) {
        gui::detail::toGuiThread([frame, words] {
            if (frame) frame->setWords(words);
        });
    };
}

ReportingToolWindow::ReportingToolWindow(int closedExitCode, QWidget* parent)
    : QWidget(parent), closedExitCode_(closedExitCode) {}

SearchResult ReportingToolWindow::findController() {
    SearchResult found = gui::libraryCall([] { return searchController(kBackupSearch); });
    currentName_ = found.current;
    searchTrouble_.clear();
    if (!found.answered) {
        searchTrouble_ = gui::controllerTroubleCause();
        gui::reportControllerTrouble(searchTrouble_);
    }
    return found;
}

std::string ReportingToolWindow::troubleText(std::string_view text) const {
    return gui::explainControllerTrouble(text, currentName_);
}

void ReportingToolWindow::disablerpt() {
    gui::libraryCall([name = currentName_] { suspendReports(name); });
}

void ReportingToolWindow::exitprg(int exitCode) {
    gui::libraryCall(
        [name = currentName_] { return resumeReports(name, kResumeAtExitWaitMs, true); });
    ended_ = true;
    hide();
    Q_EMIT ended(exitCode);
}

void ReportingToolWindow::closeEvent(QCloseEvent* event) {
    // Never stop half way through a transfer: the window ends by itself once it is done.
    if (busy_ || ended_) {
        event->ignore();
        return;
    }
    gui::libraryCall(
        [name = currentName_] { return resumeReports(name, kResumeAtUnloadWaitMs, false); });
    ended_ = true;
    event->accept();
    Q_EMIT ended(closedExitCode_);
}

int toolMessage(std::string_view text, std::uint32_t type) {
    const std::string caption = QCoreApplication::applicationName().toStdString();
    return desktop::messageBox(text, caption, type);
}

bool toolQuestion(std::string_view text) {
    return toolMessage(text, desktop::MB_YESNO | desktop::MB_ICONQUESTION) == desktop::IDYES;
}

} // namespace kvr::memtools::forms
