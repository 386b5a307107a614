// nvbackup: backs up the controller's settings memory and the PC-side settings.
#include "memtools/forms/backup_form.h"
#include "memtools/forms/run_form.h"

namespace {

using Form = kvr::memtools::forms::BackupForm;

const kvr::gui::ProgramInfo kInfo{
    .name = "nvbackup",
    .usage = "nvbackup",
    .summary = "Backs up the settings of the first touch controller that answers: the 35 words\n"
               "of its settings memory (addresses 81..A3) and the 13 driver and application\n"
               "settings kept on this computer. Runs without questions; its window shows the\n"
               "progress. The controller's touch reports are suspended while it works and\n"
               "resumed when it ends.",
    .files =
        "  (KVR_STATE_DIR defaults to /var/lib/lumarcon)\n"
        "  $KVR_STATE_DIR/eepdef.eep  written by the first backup (\"Install defaults\"), kept\n"
        "                             afterwards\n"
        "  $KVR_STATE_DIR/usrdef.eep  written by every later backup (\"User defaults\")\n"
        "  Files are replaced atomically: an interrupted backup leaves the old file whole.",
    .exitCodes = {{Form::Saved, "the backup file was written"},
                  {Form::NoDevice, "no controller was found"},
                  {Form::ReadFailed,
                   "the controller did not answer for every word; no file written"},
                  {Form::FileNotWritten, "the backup file could not be written"},
                  {Form::Closed, "the window was closed before a backup was made"}},
    .takesQtOptions = true};

} // namespace

int main(int argc, char** argv) {
    return kvr::memtools::forms::runForm<Form>(argc, argv, kInfo);
}
