// nvrestore: writes a settings backup back into the controller and the PC-side settings.
#include "memtools/forms/restore_form.h"
#include "memtools/forms/run_form.h"

namespace {

using Form = kvr::memtools::forms::RestoreForm;

const kvr::gui::ProgramInfo kInfo{
    .name = "nvrestore",
    .usage = "nvrestore",
    .summary = "Puts a settings backup made by nvbackup (or the control panel) back: choose\n"
               "\"User defaults\" (the latest backup) or \"Install defaults\" (the first one) and\n"
               "press Start. The file is checked before anything is written; a damaged file is\n"
               "refused, a checksum that does not match is asked about. The controller's touch\n"
               "reports are suspended while the window is open and resumed when it ends.",
    .files = "  (KVR_STATE_DIR defaults to /var/lib/lumarcon)\n"
             "  $KVR_STATE_DIR/usrdef.eep  \"User defaults\"\n"
             "  $KVR_STATE_DIR/eepdef.eep  \"Install defaults\"",
    .exitCodes = {{Form::Restored, "the backup was written to the controller and the settings"},
                  {Form::NotRestored, "ended without restoring (Cancel, window closed)"},
                  {Form::WriteFailed,
                   "the controller stopped answering while its memory was written"}},
    .takesQtOptions = true};

} // namespace

int main(int argc, char** argv) {
    return kvr::memtools::forms::runForm<Form>(argc, argv, kInfo);
}
