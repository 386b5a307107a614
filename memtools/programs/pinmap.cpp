// pinmap: tells the controller how its touch sensor's cable is wired.
#include "memtools/forms/pinmap_form.h"
#include "memtools/forms/run_form.h"

namespace {

using Form = kvr::memtools::forms::PinmapForm;

const kvr::gui::ProgramInfo kInfo{
    .name = "pinmap",
    .usage = "pinmap",
    .summary = "Sets the sensor's pin definition: choose \"5 Wire\" or \"4Wire\", assign an\n"
               "electrode to each connector pin with Set, then Confirm. The wiring code goes into\n"
               "the controller's settings word 9E (its other bits are kept) and the controller\n"
               "restores its defaults so that the new wiring takes effect.",
    .files = "",
    .exitCodes = {{Form::Written, "the wiring code was written (\"Write OK\")"},
                  {Form::NotWritten, "ended without writing (Cancel, No, window closed)"},
                  {Form::WriteError, "the controller or the library kept refusing the write"}},
    .takesQtOptions = true};

} // namespace

int main(int argc, char** argv) {
    return kvr::memtools::forms::runForm<Form>(argc, argv, kInfo);
}
