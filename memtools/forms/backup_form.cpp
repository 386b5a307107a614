#include "memtools/forms/backup_form.h"

#include "gui/controller_trouble.h"
#include "gui/library_worker.h"
#include "gui/widgets.h"
#include "memtools/controller_search.h"
#include "memtools/image_transfer.h"
#include "memtools/settings_transfer.h"
#include "platform/common/paths.h"
#include "protocol/session.h"
#include "tsapi/tsapi.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

namespace kvr::memtools::forms {
namespace {

constexpr int kWaitFontPt = 16;
constexpr int kTitleFontPt = 22;

} // namespace

BackupForm::BackupForm(QWidget* parent) : ReportingToolWindow(Closed, parent) {
    gui::named(this, "Form1", QStringLiteral("Backup System Settings-1"));
    setWindowTitle(QStringLiteral("Backup System Settings-1"));

    title_ = gui::named(new QLabel(QStringLiteral("   BackUp"), this), "lblTitle");
    QFont titleFont = title_->font();
    titleFont.setPointSize(kTitleFontPt);
    titleFont.setBold(true);
    title_->setFont(titleFont);

    wait_ = gui::named(new QLabel(QStringLiteral("Please wait a moment  !!"), this), "lblWait");
    wait_->setAlignment(Qt::AlignCenter);
    wait_->hide();

    auto* frame = gui::named(new QFrame(this), "Frame1", QStringLiteral("Progress"));
    progress_ = new ProgressFrame(frame);
    progress_->setFixedWidth(359); // 35 units of 10 pixels inside its border
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(progress_, 0, Qt::AlignCenter);

    auto* layout = new QVBoxLayout(gui::scrollingContent(this));
    layout->setContentsMargins(24, 16, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(title_);
    layout->addWidget(wait_);
    layout->addStretch(1);
    layout->addWidget(frame);
    gui::fitToScreen(this, QSize(440, 220), false);
}

void BackupForm::start() {
    // Load: the progress unit, an empty bar, no handle, the label's font, the search.
    progress_->takeUnit();
    handle_ = 0;
    QFont waitFont = wait_->font();
    waitFont.setPointSize(kWaitFontPt);
    wait_->setFont(waitFont);
    if (!getctrname()) return;
    show();
    // Activation: the work starts once the window has been shown.
    QTimer::singleShot(0, this, &BackupForm::activate);
}

void BackupForm::activate() {
    if (ended_) return;
    busy_ = true;
    disablerpt();
    readset();
    rdeep();
    busy_ = false;
}

bool BackupForm::getctrname() {
    if (findController().count > 0) return true;
    toolMessage(gui::withCause("No device was found", searchTrouble_));
    exitprg(NoDevice);
    return false;
}

void BackupForm::readset() {
    struct Read {
        std::int32_t handle = -1;
        SettingsRecord record{};
    };
    const Read read = gui::libraryCall([name = currentName_] {
        const protocol::ControllerSession controller(name);
        ReopenCOMPort(controller.handle());
        return Read{controller.handle(), fetchSettings(controller.handle(), kBackupProgramRules)};
    });
    handle_ = read.handle;
    contents_.record = read.record;
}

void BackupForm::rdeep() {
    struct Read {
        std::int32_t handle = -1;
        ImageReadResult image;
    };
    // The "Please wait" label shows once the controller is open; the bar moves per word.
    const Read read = gui::libraryCall(
        [name = currentName_, progress = progress_->fromWorker(), wait = QPointer<QLabel>(wait_)] {
            protocol::ControllerSession controller(name);
            Read r{controller.handle(), {}};
            if (!controller.isOpen()) return r;
            gui::detail::toGuiThread([wait] {
                if (wait) wait->show();
            });
            r.image = readImage(controller, progress);
            return r;
        });
    handle_ = read.handle;
    if (handle_ < 0) {
        toolMessage(troubleText("KVR Handler Error! Please select the device again"));
        return; // the window stays until the user closes it
    }
    if (!read.image.complete) {
        std::fprintf(stderr, "nvbackup: %s\n", read.image.reason.c_str());
        toolMessage(troubleText("Error Reading!!!"));
        exitprg(ReadFailed);
        return;
    }
    contents_.image = read.image.image;
    // Written and flushed to the disk beside the window, on the worker.
    const std::filesystem::path file = chooseBackupFile(paths::stateDir());
    std::string error;
    if (!gui::libraryCall([&] { return writeBackupFile(file, contents_, &error); })) {
        toolMessage("The backup file could not be written!!\n" + error);
        exitprg(FileNotWritten);
        return;
    }
    writtenFile_ = file;
    exitprg(Saved);
}

} // namespace kvr::memtools::forms
