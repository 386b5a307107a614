// rdeep: the silent backup of the controller's settings at the first start on a machine,
// through the memory tools' backup module: the settings record with the panel's own ranges,
// the settings image read word by word, and the backup file.

#include "gui/library_worker.h"
#include "memtools/memtools.h"
#include "panel/frm_main.h"
#include "platform/common/paths.h"
#include "platform/desktop/message_box.h"
#include "protocol/session.h"
#include "tsapi/tsapi.h"

#include <cstdio>

namespace kvr::panel {

namespace {

// The panel's test of an existing first backup: "Modify_This_File" in its first line, past
// the first character. The same test chooses the file a backup goes to.
constexpr std::string_view kPanelMarker = "Modify_This_File";
constexpr std::size_t kPanelMarkerFrom = 1;

std::filesystem::path backupFile() {
    return memtools::chooseBackupFile(paths::stateDir(), kPanelMarker, kPanelMarkerFrom);
}

} // namespace

bool FrmMain::firstStartBackupNeeded() const {
    return backupFile().filename() == memtools::kInstallDefaultsFile;
}

void FrmMain::rdeep(bool showMessage) {
    // The settings record and the image in one request to the library worker: the controller
    // stays open from the first read to the last.
    struct Read {
        std::int32_t handle = -1;
        memtools::SettingsRecord record{};
        memtools::ImageReadResult image;
    };
    const Read read = gui::libraryCall([name = session_.selectedName] {
        protocol::ControllerSession controller(name);
        Read r{controller.handle(), {}, {}};
        ReopenCOMPort(r.handle);
        r.record = memtools::fetchSettings(r.handle, memtools::kControlPanelRules);
        // A word whose reply fails is asked again; when the controller gives no good reply
        // for it, no file is written at all, rather than one with a hole of zeros in its image.
        if (controller.isOpen()) r.image = memtools::readImage(controller);
        return r;
    });
    session_.lastHandle = read.handle;
    if (read.handle < 0) {
        desktop::messageBox(troubleText("KVR Handler Error! Please select the device again"),
                            dialogTitle_, desktop::MB_OK);
        return;
    }
    if (!read.image.complete) {
        desktop::messageBox(troubleText("Error Reading!!!"), dialogTitle_, desktop::MB_OK);
        return;
    }
    // Written (and flushed to the disk) on the worker, beside the window.
    const auto path = backupFile();
    std::string error;
    const memtools::BackupContents contents{read.image.image, read.record};
    if (!gui::libraryCall([&] { return memtools::writeBackupFile(path, contents, &error); })) {
        std::fprintf(stderr, "tactivo: settings backup not written: %s\n", error.c_str());
        return;
    }
    if (showMessage) desktop::messageBox("Write Backup File OK", dialogTitle_, desktop::MB_OK);
}

} // namespace kvr::panel
