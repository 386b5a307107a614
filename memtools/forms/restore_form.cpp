#include "memtools/forms/restore_form.h"

#include "gui/controller_trouble.h"
#include "gui/library_worker.h"
#include "gui/accessibility.h"
#include "gui/widgets.h"
#include "memtools/controller_search.h"
#include "memtools/image_transfer.h"
#include "memtools/settings_transfer.h"
#include "platform/common/paths.h"
#include "protocol/session.h"
#include "protocol/wait.h"
#include "tsapi/tsapi.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

namespace kvr::memtools::forms {
namespace {

constexpr int kWaitFontPt = 12;
constexpr int kTitleFontPt = 22;
constexpr std::uint16_t kBeforeSettingsMs = 200;

std::filesystem::path backupPath(std::string_view file) {
    return paths::stateDir() / file;
}

} // namespace

RestoreForm::RestoreForm(QWidget* parent) : ReportingToolWindow(NotRestored, parent) {
    gui::named(this, "Form1", QStringLiteral("Restore last defaults-1"));
    setWindowTitle(QStringLiteral("Restore last defaults-1"));

    title_ = gui::named(new QLabel(QStringLiteral("Restore"), this), "lblTitle");
    QFont titleFont = title_->font();
    titleFont.setPointSize(kTitleFontPt);
    titleFont.setBold(true);
    title_->setFont(titleFont);

    auto* choice = new QGroupBox(this);
    choice->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    userDefaults_ = gui::named(new QRadioButton(QStringLiteral("User defaults"), choice), "optUser",
                               QStringLiteral("User defaults"));
    installDefaults_ = gui::named(new QRadioButton(QStringLiteral("Install defaults"), choice),
                                  "optInstall", QStringLiteral("Install defaults"));
    userDefaults_->setChecked(true);
    auto* choiceLayout = new QVBoxLayout(choice);
    choiceLayout->addWidget(userDefaults_);
    choiceLayout->addWidget(installDefaults_);

    start_ = gui::named(new QPushButton(QStringLiteral("Start"), this), "cmdStart",
                        QStringLiteral("Start"));
    cancel_ = gui::named(new QPushButton(QStringLiteral("Cancel"), this), "cmdCancel",
                         QStringLiteral("Cancel"));
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(choice, 1);
    top->addLayout(buttons);

    wait_ = gui::named(new QLabel(QStringLiteral("Please wait a moment !!"), this), "lblWait");
    wait_->setAlignment(Qt::AlignCenter);
    frame_ = gui::named(new QWidget(this), "Frame1", QStringLiteral("Progress"));
    progress_ = new ProgressFrame(frame_);
    progress_->setFixedWidth(359);
    auto* frameLayout = new QVBoxLayout(frame_);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(progress_, 0, Qt::AlignCenter);

    auto* layout = new QVBoxLayout(gui::scrollingContent(this));
    layout->setContentsMargins(24, 16, 24, 20);
    layout->setSpacing(10);
    layout->addWidget(title_);
    layout->addLayout(top);
    layout->addWidget(wait_);
    layout->addWidget(frame_);
    layout->addStretch(1);
    gui::fitToScreen(this, QSize(440, 250), false);
    // Laid out before the progress unit is taken; hidden until the writing starts.
    wait_->setVisible(false);
    frame_->setVisible(false);
    progress_->ensurePolished();

    gui::onChecked(userDefaults_, this, [this] { filePath_ = backupPath(kUserDefaultsFile); });
    gui::onChecked(installDefaults_, this,
                   [this] { filePath_ = backupPath(kInstallDefaultsFile); });
    connect(start_, &QPushButton::clicked, this, &RestoreForm::startClicked);
    connect(cancel_, &QPushButton::clicked, this, &RestoreForm::cancelClicked);
}

void RestoreForm::start() {
    QFont waitFont = wait_->font();
    waitFont.setPointSize(kWaitFontPt);
    wait_->setFont(waitFont);
    progress_->takeUnit();
    handle_ = 0;
    filePath_ = backupPath(kUserDefaultsFile);
    busy_ = true;
    getctrname();
    busy_ = false;
    show();
    QTimer::singleShot(0, this, &RestoreForm::activate);
}

void RestoreForm::activate() {
    if (ended_) return;
    busy_ = true;
    startingUp_ = true;
    disablerpt();
    startingUp_ = false;
    busy_ = false;
    // A click made while the reports were being suspended is carried out now; Cancel first,
    // as it ends the program.
    if (cancelPending_) {
        cancelPending_ = false;
        cancelClicked();
        return;
    }
    if (startPending_) {
        startPending_ = false;
        startClicked();
    }
}

void RestoreForm::startClicked() {
    if (startingUp_) {
        startPending_ = true;
        return;
    }
    // The waits keep the window alive, so a second click may come while one runs: the
    // restore under way is what it asked for.
    if (busy_ || ended_) return;
    busy_ = true;
    readbkfile();
    busy_ = false;
}

void RestoreForm::cancelClicked() {
    if (startingUp_) {
        cancelPending_ = true;
        return;
    }
    if (busy_ || ended_) return;
    exitprg(NotRestored);
}

void RestoreForm::showWorking(bool working) {
    start_->setVisible(!working);
    cancel_->setVisible(!working);
    wait_->setVisible(working);
    frame_->setVisible(working);
    if (!working) progress_->setWords(0);
}

void RestoreForm::getctrname() {
    // The window stays usable.
    if (findController().count == 0)
        toolMessage(gui::withCause("No device was found", searchTrouble_));
}

void RestoreForm::readbkfile() {
    const ReadResult file = readBackupFile(filePath_);
    switch (file.status) {
    case ReadStatus::NotFound:
        toolMessage("File not found!!");
        return;
    case ReadStatus::Unreadable:
        toolMessage("The backup file could not be read!!\n" + file.reason);
        return;
    case ReadStatus::Damaged:
        // Nothing of a damaged file reaches the controller.
        std::fprintf(stderr, "nvrestore: %s: %s\n", filePath_.c_str(), file.reason.c_str());
        toolMessage("File error!!");
        return;
    case ReadStatus::ChecksumMismatch:
        if (!toolQuestion("File error!! Continue restore ?")) return;
        contents_ = file.contents;
        restore();
        return;
    case ReadStatus::Ok:
        contents_ = file.contents;
        getctrname();
        restore();
        return;
    }
}

void RestoreForm::restore() {
    switch (wrteep()) {
    case WriteOutcome::Declined:
    case WriteOutcome::NoHandle:
        return; // back to waiting: nothing was written, nothing handed to the library
    case WriteOutcome::Abandoned:
        toolMessage(troubleText("Error Writing!!!"));
        exitprg(WriteFailed);
        return;
    case WriteOutcome::Written:
        break;
    }
    protocol::WaitMilliseconds(kBeforeSettingsMs);
    handle_ = gui::libraryCall([name = currentName_, record = contents_.record] {
        const protocol::ControllerSession controller(name);
        applySettings(controller.handle(), record);
        return controller.handle();
    });
    exitprg(Restored);
}

RestoreForm::WriteOutcome RestoreForm::wrteep() {
    if (!toolQuestion("Are you sure ??")) return WriteOutcome::Declined;
    showWorking(true);
    struct Transfer {
        std::int32_t handle = -1;
        ImageWriteResult image;
    };
    const Transfer outcome = gui::libraryCall(
        [name = currentName_, image = contents_.image, progress = progress_->fromWorker()] {
            protocol::ControllerSession controller(name);
            Transfer w{controller.handle(), {}};
            if (controller.isOpen()) w.image = writeImage(controller, image, progress);
            return w;
        });
    handle_ = outcome.handle;
    if (handle_ < 0) {
        toolMessage(troubleText("KVR Handler Error! "));
        showWorking(false);
        return WriteOutcome::NoHandle;
    }
    const ImageWriteResult& written = outcome.image;
    if (!written.complete) {
        std::fprintf(stderr, "nvrestore: %s after %d of %d words\n", written.reason.c_str(),
                     written.wordsWritten, kImageWords);
        return WriteOutcome::Abandoned;
    }
    return WriteOutcome::Written;
}

} // namespace kvr::memtools::forms
